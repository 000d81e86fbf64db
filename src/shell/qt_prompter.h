#pragma once
// Message boxes for the running program. Under a display-less platform (offscreen, minimal) a box
// could never be answered, so the text goes to the standard error stream instead and questions
// are answered No.

#include "core/prompts.h"

namespace chimewise {

class QtPrompter final : public Prompter {
 public:
  void message(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) override;
  bool askYesNo(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) override;
  void ask(const QString& text, const QString& title, PromptIcon icon, std::function<void(bool)> answered) override;
  void notice(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) override;
  static bool headless();
};

}  // namespace chimewise

#pragma once
// A Prompter for tests: it records every prompt and answers questions from a queue.

#include "core/prompts.h"
#include "support/scripted_prompter.h"

#include <deque>
#include <vector>

namespace chimewise {

// Records every prompt and answers questions from a queue (No when the queue is empty).
class ScriptedPrompter final : public Prompter {
 public:
  void message(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) override {
    asked.push_back({text, title, icon, false});
  }
  bool askYesNo(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) override {
    asked.push_back({text, title, icon, true});
    if (answers.empty()) return false;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<Prompt> asked;
  std::deque<bool> answers;
};

}  // namespace chimewise

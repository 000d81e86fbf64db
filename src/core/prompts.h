#pragma once
// Every message box and Yes/No question the program shows goes through a Prompter, so tests can
// read what was asked and answer it without a dialog.

#include <QString>
#include <functional>

namespace chimewise {

enum class PromptIcon { None, Information, Warning, Critical, Question };

struct Prompt {
  QString text;
  QString title;
  PromptIcon icon = PromptIcon::None;
  bool yesNo = false;
  bool notice = false;  // shown without holding the program up
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message with an OK button. An empty title shows the program's title.
  virtual void message(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) = 0;
  // A Yes/No question; true for Yes.
  virtual bool askYesNo(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) = 0;
  // A Yes/No question that holds nothing up: the call returns at once, and `answered` runs later,
  // once the box has closed, with true for Yes. It never runs inside the call. Whatever the
  // answer acts on may be gone by then: `answered` checks it first.
  virtual void ask(const QString& text, const QString& title, PromptIcon icon,
                   std::function<void(bool yes)> answered) = 0;
  // A message that holds nothing up: the caller goes on at once while it is shown.
  virtual void notice(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) = 0;
};

inline const QString kProgramTitle = QStringLiteral("Olm Chimewise");

}  // namespace chimewise

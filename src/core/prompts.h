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
};

// No box holds the program up: each call returns at once while its box is shown, and what is to
// happen after the user has answered is handed over as a continuation that runs later, from the
// event loop, once the box has closed (where nothing can be shown, as in the command-line tool, it
// runs at once). Whatever a continuation acts on may be gone by then: it checks that first.
class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message with an OK button. An empty title shows the program's title. `closed`, when given,
  // runs once the box has been closed.
  virtual void notice(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None,
                      std::function<void()> closed = {}) = 0;
  // A Yes/No question; `answered` runs once the box has closed, with true for Yes.
  virtual void ask(const QString& text, const QString& title, PromptIcon icon,
                   std::function<void(bool yes)> answered) = 0;
};

inline const QString kProgramTitle = QStringLiteral("Olm Chimewise");

}  // namespace chimewise

#pragma once
// Every message box and Yes/No question the program shows goes through a Prompter, so tests can
// read what was asked and answer it without a dialog.

#include <QString>
#include <deque>
#include <vector>

namespace chimewise {

enum class PromptIcon { None, Information, Warning, Critical, Question };

struct Prompt {
  QString text;
  QString title;
  PromptIcon icon = PromptIcon::None;
  bool yesNo = false;
};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message with an OK button. An empty title shows the program's title.
  virtual void message(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) = 0;
  // A Yes/No question; true for Yes.
  virtual bool askYesNo(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None) = 0;
};

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

inline const QString kProgramTitle = QStringLiteral("Olm Chimewise");

}  // namespace chimewise

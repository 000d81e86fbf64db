#pragma once
// A Prompter for tests: records every prompt and answers questions from a queue (No when empty).
// As the real boxes, it answers later, from the event loop.

#include "core/prompts.h"

#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

namespace chimewise {

class ScriptedPrompter final : public Prompter {
 public:
  void notice(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None,
              std::function<void()> closed = {}) override {
    asked.push_back({text, title, icon, false});
    if (whileOpen) whileOpen(asked.back());
    if (closed) QTimer::singleShot(0, std::move(closed));
  }
  void ask(const QString& text, const QString& title, PromptIcon icon, std::function<void(bool)> answered) override {
    asked.push_back({text, title, icon, true});
    if (whileOpen) whileOpen(asked.back());
    bool a = false;
    if (!answers.empty()) {
      a = answers.front();
      answers.pop_front();
    }
    QTimer::singleShot(0, [answered = std::move(answered), a] { answered(a); });
  }
  // Runs as a box opens, before it is answered.
  std::function<void(const Prompt&)> whileOpen;
  std::vector<Prompt> asked;
  std::deque<bool> answers;
};

}  // namespace chimewise

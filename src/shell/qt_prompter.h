#pragma once
// Message boxes for the running program. Under a display-less platform (offscreen, minimal) a box
// could never be answered, so the text goes to the standard error stream instead and questions
// are answered No.

#include "core/prompts.h"

#include <QObject>

class QMessageBox;

namespace chimewise {

class QtPrompter final : public Prompter {
 public:
  // `boxes`: whether boxes are shown at all (see the note above).
  explicit QtPrompter(bool boxes = !headless()) : m_boxes(boxes) {}
  void notice(const QString& text, const QString& title = {}, PromptIcon icon = PromptIcon::None,
              std::function<void()> closed = {}) override;
  void ask(const QString& text, const QString& title, PromptIcon icon, std::function<void(bool)> answered) override;
  static bool headless();

  // How many of the boxes shown are open now.
  int openBoxes() const { return m_open; }
  // Runs `then` from the event loop once no box is open (a process that ends with a box up waits
  // for it to be closed). Replaces any step given before.
  void whenNoneOpen(std::function<void()> then);

 private:
  // Shows `box` (deleted once closed); `closed` runs with its result once it has closed.
  void show(QMessageBox* box, std::function<void(int result)> closed);
  void later(std::function<void()> step);

  bool m_boxes;
  int m_open = 0;
  std::function<void()> m_whenNoneOpen;
  // The context of every continuation: none runs once the prompter is gone.
  QObject m_context;
};

}  // namespace chimewise

#pragma once
// Keeps the character off the dialogs the user must read or answer. It watches the application:
// when a dialog is shown, moved or resized, or the character's own window has moved, appeared or
// changed size, and the character's drawing then covers a visible dialog, the character steps
// aside at once, even in the middle of a speech. Moves are judged once they have settled, so a
// glide or a drag is judged where it ends, not at every step.

#include <QList>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <functional>

class QWidget;

namespace agent {
class Character;
}

namespace chimewise {

class KeepClear final : public QObject {
  Q_OBJECT
 public:
  // How long a move must have been still before it is judged.
  static constexpr int kSettleMs = 150;

  // `character` gives the character now (null when none is loaded).
  explicit KeepClear(std::function<agent::Character*()> character, QObject* parent = nullptr);
  ~KeepClear() override;
  KeepClear(const KeepClear&) = delete;
  KeepClear& operator=(const KeepClear&) = delete;

  // Every dialog is kept clear (on), or message boxes alone (off: a guided tour places the
  // character itself, beside or in front of the window it explains). Switching it on looks again.
  void setAllDialogs(bool on);
  bool allDialogs() const { return m_allDialogs; }

  // Looks now: when the visible character covers a dialog kept clear, it steps aside.
  void check();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The frames of the visible dialogs kept clear.
  QList<QRect> keptDialogs() const;

  std::function<agent::Character*()> m_character;
  bool m_allDialogs = true;
  QTimer m_soon;    // a dialog or the character appeared: looked at once the show is over
  QTimer m_settle;  // something moved: looked at once it has been still a while
};

}  // namespace chimewise

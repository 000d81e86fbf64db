#pragma once
// The update window ("Pelor Update Utility"): the three steps with a marker beside the current
// one, the progress line, the server's listing and Abort. Thin: the check drives it through
// UpdateView.

#include "update/update_check.h"

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace chimewise {

class CharacterHost;

namespace update {

class UpdateWindow final : public QWidget, public UpdateView {
  Q_OBJECT
 public:
  explicit UpdateWindow(QWidget* parent = nullptr);

  // UpdateView
  void open() override;
  void close() override;
  void bringToFront() override;
  QRect frame() const override;
  void setStep(int step) override;
  void addRow(const QString& text) override;
  void selectRow(int row) override;
  void setProgressText(const QString& text) override;

  // For tests and pictures.
  int step() const { return m_step; }
  QString progressText() const;
  QListWidget* list() const { return m_list; }
  QPushButton* abortButton() const { return m_abort; }
  QWidget* marker() const { return m_marker; }
  QLabel* stepLabel(int step) const { return m_steps[step]; }

 signals:
  // The user clicked Abort or closed the window.
  void abortRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void placeMarker();

  QLabel* m_steps[3] = {};
  QWidget* m_marker = nullptr;
  QLabel* m_progress = nullptr;
  QListWidget* m_list = nullptr;
  QPushButton* m_abort = nullptr;
  int m_step = 0;
  bool m_closingByCheck = false;
};

// The update command as the program runs it: the window, the sibling windows of the desktop, the
// loaded character and the check. The program connects to the check's signals and calls
// CheckForUpdate from its menus and the character.
class UpdateCommand final {
 public:
  UpdateCommand(SettingsStore& settings, Prompter& prompter, CharacterHost& character, ProgramEvents* events,
                UpdateOptions options);
  ~UpdateCommand();
  UpdateCommand(const UpdateCommand&) = delete;
  UpdateCommand& operator=(const UpdateCommand&) = delete;

  // What the check tells (its signals).
  UpdateCheck& check() { return *m_check; }
  // Starts a check and returns at once (see UpdateCheck::CheckForUpdate).
  void CheckForUpdate() { m_check->CheckForUpdate(); }
  // Ends a check in progress (at shutdown).
  void Abort() { m_check->Abort(); }
  bool running() const { return m_check->running(); }

 private:
  std::unique_ptr<UpdateWindow> m_window;
  std::unique_ptr<SiblingWindows> m_siblings;
  std::unique_ptr<Presenter> m_character;
  std::unique_ptr<UpdateCheck> m_check;
};

}  // namespace update
}  // namespace chimewise

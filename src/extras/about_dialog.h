#pragma once
// The About window (frmAbout): the program's title, version, description and notice, with
// buttons for the system-information tool and the detailed help page.

#include "extras/programs.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace chimewise {

class Prompter;

class AboutDialog final : public QDialog {
  Q_OBJECT
 public:
  // The launcher starts the system-information program and must outlive the window.
  AboutDialog(QString appFolder, Prompter& prompter, ProgramLauncher& launcher = SystemLauncher(),
              QWidget* parent = nullptr);

  // "&System Info...": the first system-information program on PATH, or a message saying there is
  // none.
  void StartSysInfo();
  // "Detailed Info": closes the window, then opens helpfile/about.htm.
  void ShowDetailedInfo();

  // The help page's path (found without regard to letter case, else where it belongs).
  QString helpPagePath() const;

 signals:
  // Opens a document (the help page) in the desktop's viewer. Not connected: QDesktopServices.
  void openDocument(const QString& path);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString m_appFolder;
  Prompter& m_prompter;
  ProgramLauncher& m_launcher;
  bool m_placed = false;
};

}  // namespace chimewise

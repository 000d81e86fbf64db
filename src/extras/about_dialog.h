#pragma once
// The About window (frmAbout): the program's title, version, description and notice, with
// buttons for the system-information tool and the detailed help page.

#include "extras/programs.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;

namespace chimewise {

class Prompter;

struct AboutHooks {
  // Opens a document (the help page) in the desktop's viewer. Unset: QDesktopServices.
  std::function<void(const QString& path)> openDocument;
  // Starts the system-information program. Unset: StartDetached in the home folder.
  std::function<LaunchResult(const QString& program, const QStringList& arguments)> startProgram;
};

class AboutDialog final : public QDialog {
  Q_OBJECT
 public:
  AboutDialog(QString appFolder, Prompter& prompter, AboutHooks hooks = {}, QWidget* parent = nullptr);

  // "&System Info...": the first system-information program on PATH, or a message saying there is
  // none.
  void StartSysInfo();
  // "Detailed Info": closes the window, then opens helpfile/about.htm.
  void ShowDetailedInfo();

  // The help page's path (found without regard to letter case, else where it belongs).
  QString helpPagePath() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString m_appFolder;
  Prompter& m_prompter;
  AboutHooks m_hooks;
  bool m_placed = false;
};

}  // namespace chimewise

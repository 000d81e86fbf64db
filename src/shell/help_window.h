#pragma once
// The program's help pages in a small window of its own (a QTextBrowser over the shipped pages),
// so help never depends on the desktop's URL opener or on a browser being installed. A link at the
// top opens the same page in the desktop's browser for those who prefer it.

#include <QString>
#include <QWidget>

class QLabel;
class QTextBrowser;

namespace chimewise {

inline const QString kHelpWindowTitle = QStringLiteral("Olm Chimewise Help");

class HelpWindow final : public QWidget {
  Q_OBJECT
 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  // Shows `page` (a shipped help page; links between the pages are followed here).
  void ShowPage(const QString& page);

  QTextBrowser* browser() const { return m_browser; }
  QLabel* browserLink() const { return m_link; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTextBrowser* m_browser = nullptr;
  QLabel* m_link = nullptr;
};

}  // namespace chimewise

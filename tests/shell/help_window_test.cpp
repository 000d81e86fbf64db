// The help window: the shipped page shown in the program's own window, the browser only on request.
#include "shell/help_window.h"

#include "support/qt_app.h"

#include <QDesktopServices>
#include <QLabel>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

// Stands for the desktop's URL opener: counts what it was asked to open.
class UrlOpener : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

}  // namespace

TEST(HelpWindow, ShowsTheShippedPageItselfAndOpensTheBrowserOnlyFromItsLink) {
  testsupport::EnsureQtApp();
  UrlOpener opener;
  QDesktopServices::setUrlHandler("file", &opener, "open");
  const QString page = qEnvironmentVariable("CHIMEWISE_SOURCE_DIR") + "/assets/helpfile/options.htm";
  HelpWindow w;
  w.ShowPage(page);
  w.show();
  EXPECT_EQ(w.browser()->source(), QUrl::fromLocalFile(page));
  EXPECT_TRUE(w.browser()->toPlainText().contains("Options")) << w.browser()->toPlainText().left(200).toStdString();
  EXPECT_TRUE(opener.opened.isEmpty());
  ASSERT_TRUE(w.browserLink()->text().contains(">Open in browser<"));
  emit w.browserLink()->linkActivated("browser");
  EXPECT_EQ(opener.opened, QList<QUrl>{QUrl::fromLocalFile(page)});
  QTest::keyClick(w.browser(), Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  QDesktopServices::unsetUrlHandler("file");
}

#include "help_window_test.moc"

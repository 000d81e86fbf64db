// The About window: its texts, its picture, and where its buttons lead.
#include "extras/about_dialog.h"

#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class AboutTest : public ::testing::Test {
 protected:
  QString text(const char* name) {
    if (auto* label = dialog.findChild<QLabel*>(name)) return label->text();
    if (auto* button = dialog.findChild<QPushButton*>(name)) return button->text();
    return "<absent>";
  }

  QApplication& qtApp = testsupport::EnsureQtApp();
  QTemporaryDir app;
  ScriptedPrompter prompter;
  QStringList opened;
  AboutDialog dialog{app.path(), prompter, {[this](const QString& path) { opened << path; }, {}}};
};

}  // namespace

TEST_F(AboutTest, ShowsTheVersionOfThisBuildAndItsIcon) {
  EXPECT_EQ(text("lblVersion"), QStringLiteral("Version: ") + CHIMEWISE_PROJECT_VERSION);
  EXPECT_FALSE(text("lblDescription").isEmpty());
  EXPECT_FALSE(text("lblDisclaimer").isEmpty());

  // The program's icon is drawn: its middle is not transparent.
  dialog.show();
  const QImage shot = dialog.grab().toImage();
  auto* icon = dialog.findChild<QLabel*>("picIcon");
  ASSERT_NE(icon, nullptr);
  const QPoint middle = icon->geometry().center() * shot.devicePixelRatio();
  EXPECT_GT(qAlpha(shot.pixel(middle)), 0);
  EXPECT_NE(shot.pixelColor(middle), dialog.palette().color(QPalette::Window));
  // Every text fits: the window is tall enough for the wrapped notice.
  auto* notice = dialog.findChild<QLabel*>("lblDisclaimer");
  EXPECT_GE(notice->height(), notice->heightForWidth(notice->width()));
  if (const QString out = qEnvironmentVariable("CHIMEWISE_ABOUT_PNG"); !out.isEmpty()) shot.save(out);
}

// System Info without any such program tells the user; Detailed Info closes the window, then opens the help page.
TEST_F(AboutTest, TheButtonsLeadToSystemInformationAndTheHelpPage) {
  testsupport::Touch(app.filePath("HelpFile/About.htm"), "<html></html>");
  QTemporaryDir emptyBin;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", emptyBin.path().toLocal8Bit());
  dialog.show();
  QTest::mouseClick(dialog.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
  qputenv("PATH", path);
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, "System Information Is Unavailable At This Time");
  EXPECT_TRUE(dialog.isVisible());
  QTest::mouseClick(dialog.findChild<QPushButton*>("cmdMore"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(opened, QStringList{app.filePath("HelpFile/About.htm")});
}

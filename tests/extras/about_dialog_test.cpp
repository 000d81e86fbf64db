// The About window shows this build's version; its Detailed Info button closes it and opens the
// help page (System Info is StartSysInfo's, tested with the programs).
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

TEST(About, ShowsTheVersionOfThisBuildAndLeadsToTheHelpPage) {
  testsupport::EnsureQtApp();
  QTemporaryDir app;
  ScriptedPrompter prompter;
  QStringList opened;
  AboutDialog dialog{app.path(), prompter, {[&](const QString& path) { opened << path; }, {}}};
  EXPECT_EQ(dialog.findChild<QLabel*>("lblVersion")->text(), QStringLiteral("Version: ") + CHIMEWISE_PROJECT_VERSION);
  testsupport::Touch(app.filePath("HelpFile/About.htm"), "<html></html>");
  dialog.show();
  QTest::mouseClick(dialog.findChild<QPushButton*>("cmdMore"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(opened, QStringList{app.filePath("HelpFile/About.htm")});
}

// The autostart entry in a scratch $XDG_CONFIG_HOME: what is written, how it reads back, and
// whether desktop-file-validate accepts it.
#include "options/autostart.h"

#include "support/files.h"
#include "support/qt_print.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class OptionsAutostart : public ::testing::Test {
 protected:
  void SetUp() override {
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    ASSERT_EQ(AutostartEntryPath(), dir.filePath("config/autostart/org.olmchimewise.Chimewise.desktop"));
  }
  QString rawValue(const QString& key) {
    for (const QString& l : QString::fromUtf8(testsupport::Slurp(AutostartEntryPath())).split(u'\n'))
      if (l.startsWith(key + u'=')) return l.mid(key.size() + 1);
    return QStringLiteral("<absent>");
  }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(OptionsAutostart, TheEntryStartsTheProgramFromAPathWithAnyCharactersAndValidates) {
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral("/opt/Olm's \"Chimewise\"/a\\b/$HOME/`id`/100%u/new\nline")), "");
  EXPECT_TRUE(StartsAtLogin());
  // Quoted; ", `, $ and \ escaped inside the quotes; % doubled; then the file's own string escapes.
  EXPECT_EQ(rawValue(QStringLiteral("Exec")),
            QStringLiteral(R"("/opt/Olm's \\"Chimewise\\"/a\\\\b/\\$HOME/\\`id\\`/100%%u/new\nline")"));
  // Hidden from menus would hide it from some sessions' lists of login programs too.
  EXPECT_EQ(rawValue(QStringLiteral("NoDisplay")), "<absent>");
  EXPECT_NE(EnableStartAtLogin(QStringLiteral("olm-chimewise")), "");  // no path a session can follow

  const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
  if (validator.isEmpty()) GTEST_SKIP() << "desktop-file-validate is not installed";
  static int argc = 1;
  static char name[] = "options-rules-tests";
  static char* argv[] = {name, nullptr};
  if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral(R"(/opt/Olm's "Chimewise"/a\b/$x/`y`/100%/olm-chimewise)")), "");
  QProcess validate;
  validate.setProcessChannelMode(QProcess::MergedChannels);
  validate.start(validator, {AutostartEntryPath()});
  ASSERT_TRUE(validate.waitForFinished(30000));
  const QString output = QString::fromUtf8(validate.readAll());
  EXPECT_EQ(validate.exitCode(), 0) << output.toStdString();
  EXPECT_EQ(output.trimmed(), "");  // not even a warning or a hint
}

TEST_F(OptionsAutostart, AnEntryTheDesktopDisabledReadsAsOffAndIsWrittenOverWhenTicked) {
  EXPECT_FALSE(StartsAtLogin());  // no entry
  const QString head = QStringLiteral("[Desktop Entry]\nType=Application\nName=Olm Chimewise\nExec=/usr/bin/x\n");
  EXPECT_TRUE(AutostartEntryEnabled(head));
  EXPECT_TRUE(AutostartEntryEnabled(head + "Hidden=false\nX-GNOME-Autostart-enabled=true\n"));
  EXPECT_FALSE(AutostartEntryEnabled(head + "Hidden=true\n"));
  EXPECT_FALSE(AutostartEntryEnabled(head + "X-GNOME-Autostart-enabled = false\n"));
  // Only the entry's own group counts.
  EXPECT_TRUE(AutostartEntryEnabled(head + "[Desktop Action Quit]\nName=Quit\nHidden=true\n"));
  EXPECT_FALSE(AutostartEntryEnabled("# edited\n[Desktop Action Quit]\nName=Quit\n" + head + "Hidden=true"));
  testsupport::Touch(AutostartEntryPath(), (head + "Hidden=true\n").toUtf8());
  EXPECT_FALSE(StartsAtLogin());
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral("/usr/bin/olm-chimewise")), "");
  EXPECT_TRUE(StartsAtLogin());
}

TEST_F(OptionsAutostart, DisablingRemovesOnlyTheProgramsEntryAndFailuresAreTold) {
  const QString other = dir.filePath("config/autostart/other.desktop");
  testsupport::Touch(other, "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n");
  ASSERT_EQ(EnableStartAtLogin(QStringLiteral("/usr/bin/olm-chimewise")), "");
  EXPECT_EQ(DisableStartAtLogin(), "");
  EXPECT_FALSE(QFileInfo::exists(AutostartEntryPath()));
  EXPECT_FALSE(StartsAtLogin());
  EXPECT_TRUE(QFileInfo::exists(other));
  EXPECT_EQ(DisableStartAtLogin(), "");  // nothing to remove
  // Something that is no file where the entry goes: neither written nor removed, and said so.
  ASSERT_TRUE(QDir().mkpath(AutostartEntryPath() + "/inside"));
  const QString writeError = EnableStartAtLogin(QStringLiteral("/usr/bin/olm-chimewise"));
  EXPECT_TRUE(writeError.contains(AutostartEntryPath())) << writeError.toStdString();
  const QString removeError = DisableStartAtLogin();
  EXPECT_TRUE(removeError.contains(AutostartEntryPath())) << removeError.toStdString();
}

#pragma once
// A fresh, empty HOME for the real program started headless, with a template of the test's own.

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace chimewise::testsupport {

struct ProgramHome {
  // Fills the template and the environment; call from SetUp (it asserts).
  void prepare(const QString& sourceDir) {
    ASSERT_TRUE(home.isValid());
    QDir().mkpath(tpl.filePath("data"));
    QDir().mkpath(tpl.filePath("characters"));
    for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"})
      ASSERT_TRUE(QFile::copy(sourceDir + "/assets/data/" + f, tpl.filePath("data/") + f));
    env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.remove("XDG_CONFIG_HOME");
    env.remove("XDG_DATA_HOME");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("CHIMEWISE_TEMPLATE_DIR", tpl.path());
  }
  // Installs a shipped character into the template.
  void install(const QString& sourceDir, const QString& character) const {
    ASSERT_TRUE(QFile::copy(sourceDir + "/assets/characters/" + character, tpl.filePath("characters/" + character)));
  }
  QString dataFolder() const { return home.filePath(".local/share/Olm Chimewise"); }
  QString settingsFile() const { return home.filePath(".config/Olm Chimewise/settings.ini"); }
  QTemporaryDir home, tpl;
  QProcessEnvironment env;
};

}  // namespace chimewise::testsupport

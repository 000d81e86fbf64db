#pragma once
// chimewise-cli run in-process over an application folder of its own: the user's configuration,
// data and runtime folders are under the same temporary folder, so no running program is told
// anything and nothing of the user's is read or written.

#include "cli/cli.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>

namespace chimewise::testsupport {

class CliFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "cli-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    QCoreApplication::setApplicationName("Olm Chimewise");
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", dir.filePath("share").toUtf8());
    qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
  }
  // Runs the tool on `app` with `args`; returns the exit code, keeps the output's lines and the
  // error text.
  int runCli(const QStringList& args) {
    QString o;
    errors.clear();
    QTextStream out(&o), err(&errors);
    const int code = RunCli(QStringList{"--app-folder", app} + args, out, err);
    out.flush();
    err.flush();
    lines = o.split('\n', Qt::SkipEmptyParts);
    return code;
  }

  int run(const QString& now, const QStringList& args) { return runCli(QStringList{"--now", now} + args); }
  // A field of a record as `show` prints it.
  QString field(const QString& rec, const QString& name) {
    run("2026-12-06 00:00:00", {"show", rec});
    for (const QString& l : lines)
      if (l.startsWith(name + '\t')) return l.mid(name.size() + 1);
    return "<absent>";
  }
  // No control character but the tab reaches the terminal.
  static void ExpectNoControls(const QStringList& texts) {
    for (const QString& text : texts)
      for (const char16_t u : text.toStdU16String())
        EXPECT_FALSE(u != u'\t' && (u < 0x20 || (u >= 0x7F && u < 0xA0))) << int(u) << " in " << text.toStdString();
  }

  QTemporaryDir dir;
  QString app = dir.filePath("app");
  QStringList lines;
  QString errors;
};

}  // namespace chimewise::testsupport

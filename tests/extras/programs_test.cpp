// Finding and starting the sibling programs and the system-information tool.
#include "extras/programs.h"

#include "support/files.h"
#include "support/scripted_prompter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace chimewise;
using chimewise::testsupport::Slurp;

namespace {

void makeProgram(const QString& path, const QByteArray& script = "#!/bin/sh\n", bool executable = true) {
  testsupport::Touch(path, script);
  QFile::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  if (executable) p |= QFileDevice::ExeOwner;
  QFile(path).setPermissions(p);
}

}  // namespace

TEST(SiblingPrograms, StartInTheApplicationFolderOrSayWhyNot) {
  QTemporaryDir app, out;
  ScriptedPrompter prompter;
  EXPECT_FALSE(LaunchSiblingProgram(app.path(), kJesterboxProgram, prompter));  // not installed: nothing said
  EXPECT_TRUE(prompter.asked.empty());
  // Installed but unable to run (its interpreter is missing): the system's number and words.
  makeProgram(app.filePath("JESTBOX.EXE"), "#!/nonexistent/interpreter\n");
  EXPECT_FALSE(LaunchSiblingProgram(app.path(), kJesterboxProgram, prompter));
  ASSERT_EQ(prompter.asked.size(), 1u);
  const QString told = prompter.asked[0].text;
  EXPECT_TRUE(told.startsWith("Error Olm Jesterbox 2 ") && told.endsWith("No such file or directory"))
      << told.toStdString();

  // A program that runs: it starts in the application folder and outlives the call.
  const QByteArray mark = out.filePath("started").toLocal8Bit();
  makeProgram(app.filePath("JESTBOX.EXE"),
              "#!/bin/sh\npwd > '" + mark + ".part' && mv '" + mark + ".part' '" + mark + "'\n");
  EXPECT_TRUE(LaunchSiblingProgram(app.path(), kJesterboxProgram, prompter));
  EXPECT_EQ(prompter.asked.size(), 1u);
  for (int i = 0; i < 1500 && !QFile::exists(mark); ++i) QThread::msleep(20);
  EXPECT_EQ(Slurp(mark).trimmed(), QDir(app.path()).canonicalPath().toLocal8Bit());
}

TEST(SystemInformation, TheFirstProgramOfTheListOnPathIsStartedElseTheUserIsTold) {
  QTemporaryDir bin;
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", bin.path().toLocal8Bit());
  ScriptedPrompter prompter;
  struct Launcher final : ProgramLauncher {
    LaunchResult start(const QString& program, const QStringList& arguments, const QString& folder) override {
      started << program + " " + arguments.join(' ') + " in " + folder;
      return starts ? LaunchResult{true} : LaunchResult{};
    }
    QStringList started;
    bool starts = true;
  } starter;
  StartSysInfo(prompter, starter);
  EXPECT_TRUE(starter.started.isEmpty());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, "System Information Is Unavailable At This Time");

  // Several installed: the one highest on the list, with its arguments; one that cannot run is passed over.
  makeProgram(bin.filePath("lshw-gtk"));
  makeProgram(bin.filePath("gnome-control-center"));
  makeProgram(bin.filePath("hardinfo"), "#!/bin/sh\n", false);
  StartSysInfo(prompter, starter);
  EXPECT_EQ(starter.started,
            QStringList{bin.filePath("gnome-control-center") + " info-overview in " + QDir::homePath()});
  EXPECT_EQ(prompter.asked.size(), 1u);
  starter.starts = false;
  StartSysInfo(prompter, starter);
  EXPECT_EQ(prompter.asked.size(), 2u) << "a program that does not start is no system information";
  qputenv("PATH", path);
}

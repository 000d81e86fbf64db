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
using chimewise::testsupport::Touch;

namespace {

void makeProgram(const QString& path, const QByteArray& script, bool executable = true) {
  Touch(path, script);
  QFile::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
  if (executable) p |= QFileDevice::ExeOwner;
  QFile(path).setPermissions(p);
}

// PATH for one test, restored after it.
class PathGuard {
 public:
  explicit PathGuard(const QString& path) : m_old(qgetenv("PATH")) { qputenv("PATH", path.toLocal8Bit()); }
  ~PathGuard() { qputenv("PATH", m_old); }

 private:
  QByteArray m_old;
};

}  // namespace

TEST(SiblingPrograms, AreFoundWithOrWithoutTheEndingInAnyCaseWhenTheyCanRun) {
  QTemporaryDir dir;
  const QString f = dir.path();
  EXPECT_EQ(FindSiblingProgram(f, kJesterboxProgram), "");
  EXPECT_EQ(FindSiblingProgram(f + "/nowhere", kJesterboxProgram), "");

  makeProgram(f + "/JESTBOX.EXE", "#!/bin/sh\n", false);  // copied from elsewhere, cannot run
  QDir().mkpath(f + "/jestbox");                          // a folder of that name
  makeProgram(f + "/jestbox.exe.bak", "#!/bin/sh\n");
  makeProgram(f + "/OLMEMAIL", "#!/bin/sh\n");
  EXPECT_EQ(FindSiblingProgram(f, kJesterboxProgram), "");

  makeProgram(f + "/JestBox.Exe", "#!/bin/sh\n");
  EXPECT_EQ(FindSiblingProgram(f, kJesterboxProgram), f + "/JestBox.Exe");
  EXPECT_EQ(FindSiblingProgram(f, kMailcasterProgram), f + "/OLMEMAIL");

  QTemporaryDir other;
  makeProgram(other.filePath("jestbox"), "#!/bin/sh\n");
  EXPECT_EQ(FindSiblingProgram(other.path(), kJesterboxProgram), other.filePath("jestbox"));
}

TEST(SiblingPrograms, StartInTheApplicationFolderOrSayWhyNot) {
  QTemporaryDir app, out;
  ScriptedPrompter prompter;
  // Not installed: nothing happens.
  EXPECT_FALSE(LaunchSiblingProgram(app.path(), kJesterboxProgram, prompter));
  EXPECT_TRUE(prompter.asked.empty());

  // Installed but unable to run (its interpreter is missing): the system's number and words.
  makeProgram(app.filePath("JESTBOX.EXE"), "#!/nonexistent/interpreter\n");
  EXPECT_FALSE(LaunchSiblingProgram(app.path(), kJesterboxProgram, prompter));
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].title, "Program Error");
  EXPECT_EQ(prompter.asked[0].icon, PromptIcon::Information);
  EXPECT_TRUE(prompter.asked[0].text.startsWith("Error Olm Jesterbox 2 ")) << prompter.asked[0].text.toStdString();
  EXPECT_TRUE(prompter.asked[0].text.endsWith("No such file or directory")) << prompter.asked[0].text.toStdString();

  makeProgram(app.filePath("OLMEMAIL"), "#!/nonexistent/interpreter\n");
  EXPECT_FALSE(LaunchSiblingProgram(app.path(), kMailcasterProgram, prompter));
  ASSERT_EQ(prompter.asked.size(), 2u);
  EXPECT_TRUE(prompter.asked[1].text.startsWith("Error Olm Mailcaster 2 ")) << prompter.asked[1].text.toStdString();

  // A program that runs: it starts in the application folder and outlives the call.
  const QString mark = out.filePath("started");
  makeProgram(app.filePath("JESTBOX.EXE"), "#!/bin/sh\npwd > '" + mark.toLocal8Bit() + ".part' && mv '" +
                                               mark.toLocal8Bit() + ".part' '" + mark.toLocal8Bit() + "'\n");
  EXPECT_TRUE(LaunchSiblingProgram(app.path(), kJesterboxProgram, prompter));
  EXPECT_EQ(prompter.asked.size(), 2u);
  // The program runs on its own; its mark is awaited (sleeping, for at most half a minute).
  for (int i = 0; i < 1500 && !QFile::exists(mark); ++i) QThread::msleep(20);
  ASSERT_TRUE(QFile::exists(mark)) << "the program never ran";
  EXPECT_EQ(Slurp(mark).trimmed(), QDir(app.path()).canonicalPath().toLocal8Bit());
}

TEST(SystemInformation, TheFirstProgramOfTheListOnPathIsStartedElseTheUserIsTold) {
  QTemporaryDir bin;
  const PathGuard guard(bin.path());
  ScriptedPrompter prompter;
  QStringList started;
  LaunchResult answer{true};
  const auto starter = [&](const QString& program, const QStringList& arguments) {
    started << program + " " + arguments.join(' ');
    return answer;
  };

  // Nothing on PATH.
  StartSysInfo(prompter, starter);
  EXPECT_TRUE(started.isEmpty());
  ASSERT_EQ(prompter.asked.size(), 1u);
  EXPECT_EQ(prompter.asked[0].text, "System Information Is Unavailable At This Time");
  EXPECT_EQ(prompter.asked[0].title, "System Information");
  EXPECT_FALSE(prompter.asked[0].yesNo);

  // Several installed: the one highest on the list, with its arguments.
  makeProgram(bin.filePath("lshw-gtk"), "#!/bin/sh\n");
  makeProgram(bin.filePath("gnome-control-center"), "#!/bin/sh\n");
  makeProgram(bin.filePath("hardinfo"), "#!/bin/sh\n", false);  // not runnable: passed over
  EXPECT_EQ(FindSystemInfoProgram(), bin.filePath("gnome-control-center"));
  makeProgram(bin.filePath("kinfocenter"), "#!/bin/sh\n");
  StartSysInfo(prompter, starter);
  EXPECT_EQ(started, QStringList{bin.filePath("kinfocenter") + " "});
  EXPECT_EQ(prompter.asked.size(), 1u);

  StartSysInfo(prompter, [&](const QString& program, const QStringList& arguments) {
    started << program + " " + arguments.join(' ');
    return LaunchResult{};
  });
  EXPECT_EQ(prompter.asked.size(), 2u) << "a program that does not start is no system information";
  QFile::remove(bin.filePath("kinfocenter"));
  QStringList arguments;
  EXPECT_EQ(FindSystemInfoProgram(&arguments), bin.filePath("gnome-control-center"));
  EXPECT_EQ(arguments, QStringList{"info-overview"});
}

#include "core/app_paths.h"
#include "support/qt_app.h"

#include <instance/single_instance.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using instance::SingleInstance;
using namespace chimewise;

// The real program, started while an instance runs, hands over its command line and ends.
TEST(SingleInstance, TheProgramRefusesASecondStart) {
  testsupport::EnsureQtApp();
  const QString exe = QStringLiteral(CHIMEWISE_EXE);
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());  // the program and this test meet here
  SingleInstance first(InstanceKey());                  // the program's own, per-user key
  ASSERT_TRUE(first.becomePrimary());
  QSignalSpy received(&first, &SingleInstance::commandLineReceived);

  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", runtime.path());
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  env.insert("QT_QPA_PLATFORM", "offscreen");
  second.setProcessEnvironment(env);
  second.start(exe, {"show"});
  ASSERT_TRUE(second.waitForStarted(5000));
  QElapsedTimer t;
  t.start();
  while (second.state() != QProcess::NotRunning && t.elapsed() < 10000) received.wait(100);
  ASSERT_EQ(second.state(), QProcess::NotRunning);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(second.readAllStandardError().contains(
      "Program Is Loaded: Olm Chimewise is already running. Check the System Tray."));
  if (received.isEmpty()) received.wait(2000);
  ASSERT_EQ(received.count(), 1);
  EXPECT_EQ(received.at(0).at(0).toString(), "show");
  // Nothing of the program's own was set up by the refused start.
  EXPECT_FALSE(QFileInfo::exists(runtime.filePath(".local/share/Olm Chimewise")));
}

// The Reminder Viewer's keys as a user presses them: real key events from xdotool on an X server
// and openbox of the test's own (skipped where Xvfb, openbox or xdotool are missing).
#include "support/window_manager_desktop.h"
#include "viewer_fixture.h"

#include <QPlainTextEdit>
#include <QPointer>
#include <QTableView>
#include <QTextCursor>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

auto* desktop = static_cast<WindowManagerDesktop*>(::testing::AddGlobalTestEnvironment(new WindowManagerDesktop));

// Delete in the list deletes the highlighted reminder (Reminder > Delete), Delete in the memo box
// deletes a letter and no reminder, Escape closes the viewer.
TEST_F(ViewerFixture, DeleteAndEscapeTypedIntoTheViewer) {
  if (!desktop->missing.isEmpty()) GTEST_SKIP() << desktop->missing.toStdString() << " is missing";
  ASSERT_EQ(QGuiApplication::platformName(), "xcb");
  add("First", today(9, 0), today(8, 0), "memo one");
  const qint64 second = add("Second", today(9, 30), today(8, 30));
  viewer::ViewerWindow& w = open();
  ASSERT_TRUE(WindowManagerDesktop::activate(w.winId(), [&w] { return w.isActiveWindow(); }));
  const auto key = [](const char* name) {
    WindowManagerDesktop::xdotool({"key", QString::fromLatin1(name)});
    RunEventsFor(200);
  };
  w.grid()->setFocus();
  w.grid()->setCurrentIndex(w.model()->index(1, 0));
  key("Delete");
  EXPECT_EQ(field(second, "DELETED"), "yes");
  EXPECT_EQ(column(w, 1), QStringList{"First"});
  w.memoBox()->setFocus();
  w.memoBox()->moveCursor(QTextCursor::Start);
  key("Delete");
  EXPECT_EQ(w.memoBox()->toPlainText(), "emo one");
  EXPECT_EQ(column(w, 1), QStringList{"First"});
  const QPointer<viewer::ViewerWindow> alive(&w);
  key("Escape");
  EXPECT_TRUE(!alive || !alive->isVisible()) << "Escape left the viewer open";
}

}  // namespace

// Quick Add as a user types into it: real keys from xdotool under openbox on an X server of the
// test's own (skipped where Xvfb, openbox or xdotool are missing).
#include "schedule/quick_add.h"
#include "schedule_fixture.h"
#include "support/qt_app.h"
#include "support/qt_print.h"
#include "support/scripted_prompter.h"
#include "support/window_manager_desktop.h"

#include <QLabel>
#include <QLineEdit>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

auto* desktop = static_cast<WindowManagerDesktop*>(::testing::AddGlobalTestEnvironment(new WindowManagerDesktop));

void keys(const QStringList& args) {
  WindowManagerDesktop::xdotool(args);
  RunEventsFor(200);
}

// Opened from the tray the line has the keyboard at once: typing the line and Enter save it (the
// tray's click and its Quick Add entry are the two actions before). What cannot be read stays in
// the line with the reason under it and saves nothing; Escape closes.
TEST(QuickAddDesktop, TypedLineAndEnterSaveTheReminder) {
  if (!desktop->missing.isEmpty()) GTEST_SKIP() << desktop->missing.toStdString() << " is missing";
  EnsureQtApp();
  CalendarFolder folder(QDateTime(QDate(2026, 12, 8), QTime(10, 15)));
  ScriptedPrompter prompter;
  QuickAdd quick(folder.clock, *folder.saver, *folder.alarms, folder.speaker, folder.viewer, prompter, {});
  const auto open = [&quick] {
    quick.Open();
    QuickAddWindow* w = quick.window();
    EXPECT_TRUE(WindowManagerDesktop::activate(w->winId(), [w] { return w->isActiveWindow(); }));
    return w;
  };
  QuickAddWindow* w = open();
  keys({"type", "--delay", "30", "in 2 minutes call mom"});
  EXPECT_EQ(w->shown->text(), "call mom \u2014 Tue 8 Dec, 10:17 am");
  EXPECT_EQ(w->line->accessibleDescription(), w->shown->text());
  keys({"key", "Return"});
  EXPECT_FALSE(quick.IsOpen());
  ASSERT_EQ(folder.recordCount(), 1u);
  folder.withRecord(1, [](xbase::WorkArea& wa) {
    std::string text, alarm;
    ASSERT_TRUE(wa.GetTrimString("APPT_TEXT", &text).ok() && wa.GetTrimString("ALARMTIME", &alarm).ok());
    EXPECT_EQ(text, "call mom");
    EXPECT_EQ(QString::fromStdString(alarm).trimmed(), "617");  // 10:17
  });
  EXPECT_EQ(folder.speaker.lines.value(folder.speaker.lines.size() - 1),
            "Speak: I'll remind you in 2 minutes to call mom.");

  w = open();
  keys({"type", "--delay", "30", "Lunch with Bo at 25"});
  keys({"key", "Return"});
  ASSERT_TRUE(quick.IsOpen());
  EXPECT_TRUE(w->shown->text().startsWith("no time found in \"Lunch with Bo at 25\""))
      << w->shown->text().toStdString();
  EXPECT_EQ(w->line->text(), "Lunch with Bo at 25");
  EXPECT_EQ(folder.recordCount(), 1u);
  keys({"key", "Escape"});
  EXPECT_FALSE(quick.IsOpen());
}

}  // namespace

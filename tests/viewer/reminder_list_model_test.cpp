// The viewer's list over a real reminder table: which reminders it lists, in which order, and
// that it reads records only for the rows a view shows.
#include "viewer/reminder_list_model.h"
#include "viewer_fixture.h"

#include <QHeaderView>
#include <QTableView>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

class ReminderListTest : public ViewerFixture {
 protected:
  QStringList texts(viewer::ReminderListModel& m) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
      out << m.index(r, viewer::ReminderListModel::ActivityColumn).data().toString();
    return out;
  }
  int openArea() {
    int area = 0;
    EXPECT_TRUE(OpenCalendar(engine, state.AppFolder, QString::fromLatin1(data::kAliasCalendar), &area).ok());
    EXPECT_TRUE(engine.Area(area)->SetOrder("ALARM").ok());
    return area;
  }
};

TEST_F(ReminderListTest, ListsPendingRemindersInAlarmOrderAndOnlyTheCurrentOnesWithAStamp) {
  add("Tomorrow", today(12, 0).addDays(1), today(11, 0).addDays(1));
  add("Early alarm, activity later today", today(15, 0), today(9, 0));
  add("Alarm later, activity already past", today(8, 0), today(18, 0));
  add("This very minute", today(10, 30), today(10, 0));
  const qint64 gone = add("Deleted", today(7, 0), today(7, 0));
  const qint64 silent = add("No alarm any more", today(7, 0), today(7, 30));
  const int area = openArea();
  xbase::WorkArea* wa = engine.Area(area);
  ASSERT_TRUE(wa->Go(static_cast<uint32_t>(gone)).ok());
  ASSERT_TRUE(wa->Delete().ok());
  ASSERT_TRUE(wa->Go(static_cast<uint32_t>(silent)).ok());
  ASSERT_TRUE(wa->Replace("ALARMDATE", "").ok());
  ASSERT_TRUE(wa->Commit().ok());
  ASSERT_TRUE(wa->Unlock().ok());

  viewer::ReminderListModel model(engine);
  model.setArea(area);
  ASSERT_TRUE(model.reload(true, kViewerNow).ok());
  EXPECT_EQ(texts(model), (QStringList{"Early alarm, activity later today", "This very minute",
                                       "Alarm later, activity already past", "Tomorrow"}));
  ASSERT_TRUE(model.reload(false, kViewerNow).ok());
  // Due: the alarm or the activity is not later than 10:00 (the minute of 10:00:45).
  EXPECT_EQ(texts(model), (QStringList{"Early alarm, activity later today", "This very minute",
                                       "Alarm later, activity already past"}));
  ASSERT_TRUE(model.reload(false, today(9, 59)).ok());
  EXPECT_EQ(texts(model), (QStringList{"Early alarm, activity later today", "Alarm later, activity already past"}));
  EXPECT_EQ(viewer::CurrentStamp(today(9, 5)), "20261204 545");
}

TEST_F(ReminderListTest, OpensWithoutReadingRecordsAndReadsOnlyTheRowsInSight) {
  // Written straight into the table: 3000 reminders through the saver would take long.
  {
    xbase::Engine writer;
    data::ApplyStartupSettings(writer);
    int a = 0;
    ASSERT_TRUE(
        writer.Use(data::CalendarPath(state.AppFolder).toStdString(), "FILL", xbase::OpenMode::kExclusive, &a).ok());
    xbase::WorkArea* wa = writer.Current();
    for (int i = 0; i < 3000; ++i) {
      ASSERT_TRUE(wa->AppendBlank().ok());
      ASSERT_TRUE(wa->Replace("APPT_TEXT", "Reminder " + std::to_string(i)).ok());
      ASSERT_TRUE(wa->Replace("ALARMDATE", "20261201").ok());
      ASSERT_TRUE(wa->ReplaceInteger("ALARMTIME", i % 1440).ok());
      ASSERT_TRUE(wa->Replace("EVENTDATE", "20261201").ok());
    }
    ASSERT_TRUE(wa->Commit().ok());
    EXPECT_TRUE(writer.CloseAll().ok());
  }
  const int area = openArea();
  viewer::ReminderListModel model(engine);
  model.setArea(area);
  ASSERT_TRUE(model.reload(true, kViewerNow).ok());
  EXPECT_EQ(model.rowCount(), 3000);
  EXPECT_EQ(model.recordsRead(), 0);

  QTableView view;
  view.resize(400, 300);
  view.setModel(&model);
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.show();
  (void)view.grab();
  EXPECT_GT(model.recordsRead(), 0);
  EXPECT_LE(model.recordsRead(), 128);  // one or two blocks of rows, not the table
  view.scrollToBottom();
  (void)view.grab();
  EXPECT_LE(model.recordsRead(), 256);
  EXPECT_EQ(model.index(2999, 1).data().toString(), "Reminder 2879");  // the later of the two at 23:59
}

}  // namespace

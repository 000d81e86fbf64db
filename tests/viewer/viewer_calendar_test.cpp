// File > Export Calendar and Import Calendar in the Reminder Viewer, driven offscreen.
#include "viewer_fixture.h"

#include <QAction>
#include <QFileDialog>

using namespace chimewise;
using namespace chimewise::testsupport;

namespace {

class ViewerCalendarTest : public ViewerFixture {
 protected:
  // Picks `path` in the file dialog the menu entry opens.
  void choose(viewer::ViewerWindow& w, const char* entry, const QString& path) {
    w.menuAction(QString::fromLatin1(entry))->trigger();
    // The one open now: a dialog answered before is deleted only at the next turn of the event loop.
    QFileDialog* dialog = nullptr;
    for (QFileDialog* d : w.findChildren<QFileDialog*>(QStringLiteral("calendarFileDialog")))
      if (d->isVisible()) dialog = d;
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isModal());  // window-modal, opened without an event loop of its own
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as the Open button does
  }
};

}  // namespace

TEST_F(ViewerCalendarTest, ExportsWhatItListsAndImportsIntoTheList) {
  add("Water the plants", today(9, 0), today(9, 0));
  add("Concert", QDateTime(QDate(2026, 12, 20), QTime(19, 30)), QDateTime(QDate(2026, 12, 20), QTime(18, 0)));
  viewer::ViewerWindow& w = open();
  w.ApplyShowFuture(false);
  const QString out = dir.filePath("mine.ics");
  choose(w, "mnuExportCalendar", out);
  ASSERT_FALSE(prompter.asked.empty());
  EXPECT_EQ(prompter.asked.back().text, "1 reminder written to mine.ics.");
  QFile file(out);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray text = file.readAll();
  EXPECT_TRUE(text.contains("SUMMARY:Water the plants"));
  EXPECT_FALSE(text.contains("SUMMARY:Concert"));  // not listed now

  QFile in(dir.filePath("theirs.ics"));
  ASSERT_TRUE(in.open(QIODevice::WriteOnly));
  in.write(
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Planner//EN\r\nBEGIN:VEVENT\r\nUID:fair@example.org\r\n"
      "DTSTART:20261210T090000Z\r\nSUMMARY:Book fair\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:old@example.org\r\n"
      "DTSTART:20261110T090000Z\r\nSUMMARY:Old fair\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
  in.close();
  w.ApplyShowFuture(true);
  choose(w, "mnuImportCalendar", in.fileName());
  EXPECT_EQ(prompter.asked.back().text,
            "theirs.ics: imported 1, updated 0, deleted 0, unchanged 0, skipped 1.\n"
            "Skipped \"Old fair\" (UID old@example.org): it is past");
  EXPECT_EQ(prompter.asked.back().icon, PromptIcon::Warning);
  EXPECT_TRUE(column(w, 1).contains("Book fair")) << column(w, 1).join('|').toStdString();

  // A file that is no calendar is told, and nothing changes.
  const int rows = w.model()->rowCount();
  QFile notes(dir.filePath("notes.txt"));
  ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
  notes.write("Milk, eggs, bread\n");
  notes.close();
  choose(w, "mnuImportCalendar", notes.fileName());
  EXPECT_TRUE(prompter.asked.back().text.contains("nothing was changed")) << prompter.asked.back().text.toStdString();
  EXPECT_EQ(w.model()->rowCount(), rows);
}

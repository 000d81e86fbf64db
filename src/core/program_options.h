#pragma once
// The options the running program follows, read from the settings at start-up; the Options dialog
// changes them while the program runs. One instance, owned by the composition root; the parts that
// follow an option read it here when they act, so a change needs no telling.

#include <QString>
#include <QTime>

namespace chimewise {

struct ProgramOptions {
  // Read a reminder's memo out with it, and its activity line as well.
  bool readMemos = true;
  bool readActivity = true;
  // Repeat a late reminder every waitTime minutes.
  bool remindOn = true;
  int waitTime = 5;
  // How times are shown and said ("h:mm am/pm" or "h:mm").
  QString timeFormat = QStringLiteral("h:mm am/pm");
  // The time of day the talking clock speaks in, when the range is on.
  bool timeRangeOn = true;
  QTime rangeStart = QTime(7, 0);
  QTime rangeEnd = QTime(21, 0);
  // The reminder table keeps its code page; text it lacks is refused (see data::MakeRoomForText).
  bool keepTableCodePage = false;
};

}  // namespace chimewise

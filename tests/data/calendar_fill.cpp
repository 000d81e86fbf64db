// calendar_fill APPFOLDER COUNT SEED: appends COUNT reminders to
// APPFOLDER/data/CALENDAR.DBF the way the program saves them (shared use, alias
// ONETIME, append blank, replaces, commit, unlock), with the edge cases the
// index keys must get right, then rewrites and deletes some of them.
#include <cstdio>
#include <random>
#include <string>

#include "data/calendar.h"

namespace {

xbase::Status Fill(xbase::WorkArea* wa, int i, std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  char date[32];
  std::snprintf(date, sizeof date, "2026%02d%02d", 1 + pick(12), 1 + pick(28));
  char alarm[32];
  std::snprintf(alarm, sizeof alarm, "2026%02d%02d", 1 + pick(12), 1 + pick(28));
  static const int kTimes[] = {0, 5, 600, 1439, 59, 60};
  int start = pick(3) == 0 ? kTimes[pick(6)] : pick(1440);
  int alarm_time = pick(3) == 0 ? kTimes[pick(6)] : pick(1440);
  std::string alarm_date = alarm;
  if (i == 0) {  // the documented example: 10:00 on 6 December 2026
    alarm_date = "20261206";
    alarm_time = 600;
    start = 600;
  }
  if (i % 4 == 3) alarm_date.clear();  // no pending alarm
  static const char* const kEvents[] = {"Phone Call", "Meeting", "birthday", "Appointment", "", "To Do"};
  char recno[32];
  std::snprintf(recno, sizeof recno, "E%04d%08d", i % 10000, static_cast<int>(rng() % 100000000));
  using chimewise::data::ToTableText;
  XBASE_RETURN_IF_ERROR(wa->AppendBlank());
  XBASE_RETURN_IF_ERROR(wa->Replace("ONETIME->REC_NO", recno));
  if (i % 5 == 1) XBASE_RETURN_IF_ERROR(wa->Replace("UNIQUEID", "U" + std::to_string(i)));
  XBASE_RETURN_IF_ERROR(wa->Replace("USERID", "  1"));
  XBASE_RETURN_IF_ERROR(wa->Replace("STATUS", i % 7 == 2 ? "H" : "S"));
  XBASE_RETURN_IF_ERROR(wa->Replace("EVENT", kEvents[pick(6)]));
  XBASE_RETURN_IF_ERROR(wa->Replace("APPT_TEXT", ToTableText(QString("Activity %1 call mum").arg(pick(50)))));
  XBASE_RETURN_IF_ERROR(wa->ReplaceMemo("COMMENT", "memo of reminder " + std::to_string(i)));
  XBASE_RETURN_IF_ERROR(wa->Replace("EVENTDATE", date));
  XBASE_RETURN_IF_ERROR(wa->Replace("STARTDATE", date));
  XBASE_RETURN_IF_ERROR(wa->Replace("ENDDATE", date));
  XBASE_RETURN_IF_ERROR(wa->Replace("LASTEDIT", date));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("STARTTIME", start));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("ENDTIME", start));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("EDITTIME", pick(1440)));
  XBASE_RETURN_IF_ERROR(wa->Replace("ALARMDATE", alarm_date));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("ALARMTIME", alarm_time));
  XBASE_RETURN_IF_ERROR(wa->Replace("ALARMTEXT", "12/6/2026 10:00 am"));
  XBASE_RETURN_IF_ERROR(wa->Replace("DATETEXT", "12/6/2026 10:00 am"));
  XBASE_RETURN_IF_ERROR(wa->Replace("TIMETEXT", "10:00 am"));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("SAYDATE", pick(2)));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("SAYTIME", pick(2)));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("COUNTDOWN", pick(2) ? 0 : 15));
  XBASE_RETURN_IF_ERROR(wa->ReplaceInteger("SOUND", pick(9)));
  if (i % 3 == 0) XBASE_RETURN_IF_ERROR(wa->Replace("PUBLIC", pick(2) ? "T" : "F"));
  XBASE_RETURN_IF_ERROR(wa->Commit());
  return wa->Unlock(wa->RecNo());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: calendar_fill APPFOLDER COUNT SEED\n");
    return 64;
  }
  const int count = std::atoi(argv[2]);
  std::mt19937 rng(static_cast<unsigned>(std::atoi(argv[3])));
  xbase::Engine engine;
  chimewise::data::ApplyStartupSettings(engine);
  using namespace chimewise::data;
  xbase::Status s;
  int area = OpenTable(engine, CalendarPath(QString::fromLocal8Bit(argv[1])), kAliasOneTime, kModeShared, &s);
  if (area == 0) {
    std::fprintf(stderr, "calendar_fill: %s\n", s.ToString().c_str());
    return 1;
  }
  xbase::WorkArea* wa = engine.Area(area);
  for (int i = 0; i < count && s.ok(); ++i) s = Fill(wa, i, rng);
  // Rewrite some alarms (the announcement and snooze do this) and delete some
  // reminders the way the viewer does: blank ALARMDATE, ALARMTIME 0, delete.
  for (uint32_t r = 2; s.ok() && r <= wa->RecCount(); r += 5) {
    s = wa->Go(r);
    if (s.ok()) s = wa->Replace("ALARMDATE", "20270101");
    if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", static_cast<int>(r % 1440));
    if (s.ok()) s = wa->Commit();
    if (s.ok()) s = wa->Unlock(r);
  }
  for (uint32_t r = 9; s.ok() && r <= wa->RecCount(); r += 9) {
    s = wa->Go(r);
    if (s.ok()) s = wa->Replace("ALARMDATE", "");
    if (s.ok()) s = wa->ReplaceInteger("ALARMTIME", 0);
    if (s.ok()) s = wa->Delete();
    if (s.ok()) s = wa->Commit();
    if (s.ok()) s = wa->Unlock(r);
  }
  CloseTableIfOpen(engine, kAliasOneTime);
  if (!s.ok()) {
    std::fprintf(stderr, "calendar_fill: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}

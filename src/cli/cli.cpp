#include "cli/cli.h"

#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "cli/cli_joke.h"
#include "cli/cli_mail.h"
#include "cli/cli_sync.h"
#include "cli/terminal_text.h"
#include "cli/usage.h"
#include "clock/talking_clock.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/command_line.h"
#include "core/ports.h"
#include "core/problem.h"
#include "core/prompts.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/startup_settings.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/calendar_memo.h"
#include "data/reminder_record.h"
#include "exchange/calendar_export.h"
#include "exchange/calendar_import.h"
#include "schedule/save_event.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <xbase/engine.h>
#include <instance/channel.h>

#include <map>
#include <optional>
#include <tuple>

namespace chimewise {

namespace {

const QString kUsage = R"(usage: chimewise-cli [--app-folder DIR] [--now "YYYY-MM-DD HH:MM:SS"] COMMAND
  add --text TEXT --activity "YYYY-MM-DD HH:MM" [--remind "YYYY-MM-DD HH:MM"] [--type TYPE]
      [--memo TEXT] [--sound 0-8] [--say-date] [--say-time] [--countdown MINUTES]
  list [--all]        reminders in the viewer's order: record, Reminder, Activity, Activity Date
  show REC            every field of one record
  delete REC          delete a reminder
  snooze REC CHOICE   put a reminder off (0: 1 minute, 1: 5, 2: 10, 3: 30 minutes, 4: 1 hour,
                      5: 3 hours, 6: 5 hours, 7: 1 day, 8: 1 week)
  next                the next alarm, or "none"
  due [--dry-run]     one alarm scan: what the character is asked to do, line by line
  say-time            the talking clock's announcement
  joke                the next joke or quote, and move on to the one after it
  export [--all] FILE.ics
                      the reminders list shows (--all: every one) as an iCalendar file; "-" writes
                      it on the standard output
  import [--lead MINUTES] [--all-day-at HH:MM] FILE.ics
                      reminders from an iCalendar file: events and to-dos still to come, one
                      reminder per repeating event; read again, it updates them. --lead: how long
                      before its start an event without an alarm is reminded of (default 0);
                      --all-day-at: when an all-day event is (default 09:00)
)" + QString::fromLatin1(kSyncUsage) +
                       QString::fromLatin1(kMailUsage);

// Messages the logic would show in a box go to the error stream.
class StreamPrompter final : public Prompter {
 public:
  explicit StreamPrompter(QTextStream& err) : m_err(err) {}
  void message(const QString& text, const QString& title = {}, PromptIcon = PromptIcon::None) override {
    m_err << TerminalText((title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text) << Qt::endl;
    ++count;
  }
  bool askYesNo(const QString& text, const QString& title, PromptIcon icon) override {
    message(text + QStringLiteral(" [answered No]"), title, icon);
    return false;
  }
  void notice(const QString& text, const QString& title, PromptIcon icon) override { message(text, title, icon); }
  // The tool answers No at once and has no event loop to wait in: the answer comes right away.
  void ask(const QString& text, const QString& title, PromptIcon icon, std::function<void(bool)> answered) override {
    answered(askYesNo(text, title, icon));
  }
  // A failure after a change was stored: told, but the change stands and the command succeeded.
  void warning(const QString& text, const QString& title = {}) {
    m_err << QStringLiteral("Warning: ")
          << TerminalText((title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text) << Qt::endl;
  }
  int count = 0;

 private:
  QTextStream& m_err;
};

Checked<QDateTime> parseMoment(const QString& text, const QString& option, bool seconds) {
  const QString format = seconds ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm");
  // Date and time are read apart: a wall time the clocks skip that day is still a time of day.
  const QString trimmed = text.trimmed();
  const qsizetype blank = trimmed.indexOf(u' ');
  const QDate date = QDate::fromString(trimmed.left(blank), QStringLiteral("yyyy-MM-dd"));
  const QTime time = QTime::fromString(trimmed.mid(blank + 1), format.mid(11));
  const QDateTime t = blank > 0 && date.isValid() && time.isValid()
                          ? AlarmMoment(date, MinuteOfDay(time)).addSecs(time.second())
                          : QDateTime();
  if (!t.isValid())
    return UsageError{
        QStringLiteral("%1 wants a moment written \"%2\", not \"%3\"")
            .arg(option, seconds ? QStringLiteral("YYYY-MM-DD HH:MM:SS") : QStringLiteral("YYYY-MM-DD HH:MM"), text)};
  return t;
}

Checked<int> parseInt(const QString& text, const QString& what, int lo, int hi) {
  bool ok = false;
  const int v = text.trimmed().toInt(&ok);
  if (!ok || v < lo || v > hi)
    return UsageError{
        QStringLiteral("%1 must be a whole number from %2 to %3, not \"%4\"").arg(what).arg(lo).arg(hi).arg(text)};
  return v;
}

// Options of one command: "--name value" pairs and "--flag" switches, then positional words.
struct Parsed {
  std::map<QString, QString> values;
  QStringList flags;
  QStringList words;
};

Checked<Parsed> parseArgs(const QStringList& args, const QStringList& valueOptions, const QStringList& flagOptions) {
  Parsed p;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (valueOptions.contains(a)) {
      if (i + 1 >= args.size()) return UsageError{a + QStringLiteral(" needs a value")};
      if (p.values.count(a)) return UsageError{a + QStringLiteral(" is given twice")};
      p.values[a] = args[++i];
    } else if (flagOptions.contains(a)) {
      p.flags << a;
    } else if (a.startsWith(QStringLiteral("--"))) {
      return UsageError{QStringLiteral("unknown option ") + a};
    } else {
      p.words << a;
    }
  }
  return p;
}

// Every value the command takes, checked before anything is written.
[[nodiscard]] std::optional<UsageError> checkValues(const QString& command, const Parsed& p) {
  const auto given = [&](const char* option) { return p.values.count(QString::fromLatin1(option)) > 0; };
  const auto value = [&](const char* option) { return p.values.at(QString::fromLatin1(option)); };
  if (command == QStringLiteral("add")) {
    if (!given("--text") || value("--text").trimmed().isEmpty())
      return UsageError{QStringLiteral("add needs --text with the activity's words")};
    if (!given("--activity")) return UsageError{QStringLiteral("add needs --activity")};
    if (auto e = parseMoment(value("--activity"), QStringLiteral("--activity"), false).error()) return e;
    if (given("--remind"))
      if (auto e = parseMoment(value("--remind"), QStringLiteral("--remind"), false).error()) return e;
    if (given("--sound"))
      if (auto e = parseInt(value("--sound"), "--sound", 0, 8).error()) return e;
    if (given("--countdown"))
      if (auto e = parseInt(value("--countdown"), "--countdown", 1, 99999).error()) return e;
  } else if (command == QStringLiteral("show") || command == QStringLiteral("delete")) {
    return parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0).error();
  } else if (command == QStringLiteral("snooze")) {
    if (auto e = parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0).error()) return e;
    return parseInt(p.words.at(1), "CHOICE", 0, 8).error();
  } else if (command == QStringLiteral("import") || command == QStringLiteral("sync")) {
    if (given("--lead"))
      if (auto e = parseInt(value("--lead"), "--lead", 0, 99999).error()) return e;
    if (given("--all-day-at") && !QTime::fromString(value("--all-day-at").trimmed(), QStringLiteral("HH:mm")).isValid())
      return UsageError{
          QStringLiteral("--all-day-at wants a time of day written HH:MM, not \"%1\"").arg(value("--all-day-at"))};
  }
  return std::nullopt;
}

// The options and words of a command other than mail, in the form that command takes.
Checked<Parsed> readCommand(const QString& command, const QStringList& args) {
  struct Form {
    QStringList valueOptions;
    QStringList flagOptions;
    int words = 0;
  };
  Form form;
  if (command == QStringLiteral("add"))
    form = {{"--text", "--activity", "--remind", "--type", "--memo", "--sound", "--countdown"},
            {"--say-date", "--say-time"},
            0};
  else if (command == QStringLiteral("list"))
    form = {{}, {"--all"}, 0};
  else if (command == QStringLiteral("show") || command == QStringLiteral("delete"))
    form = {{}, {}, 1};
  else if (command == QStringLiteral("snooze"))
    form = {{}, {}, 2};
  else if (command == QStringLiteral("next") || command == QStringLiteral("say-time") ||
           command == QStringLiteral("joke"))
    form = {{}, {}, 0};
  else if (command == QStringLiteral("due"))
    form = {{}, {"--dry-run"}, 0};
  else if (command == QStringLiteral("export"))
    form = {{}, {"--all"}, 1};
  else if (command == QStringLiteral("import"))
    form = {{"--lead", "--all-day-at"}, {}, 1};
  else if (command == QStringLiteral("sync"))
    form = {{"--server", "--user", "--lead", "--all-day-at"}, {}, 0};
  else
    return UsageError{QStringLiteral("unknown command ") + command};
  const Checked<Parsed> p = parseArgs(args, form.valueOptions, form.flagOptions);
  if (p.error()) return p;
  if (p->words.size() != form.words)
    return UsageError{
        QStringLiteral("%1 takes %2 argument%3").arg(command).arg(form.words).arg(form.words == 1 ? "" : "s")};
  if (auto e = checkValues(command, *p)) return *e;
  return p;
}

QString momentText(const QDateTime& t) {
  return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QStringLiteral("none");
}

QString oneLine(const QString& text) { return TerminalLine(text); }

// Tells a running program to look at the table again; nothing happens when none runs.
void tellRunningProgram() { instance::SendToRunning(InstanceKey(), kRefreshCommand, 1000); }

class Session {
 public:
  Session(const QString& appFolder, const QDateTime& now, QTextStream& err)
      : err(err),
        clock(now.isValid() ? now : QDateTime::currentDateTime()),
        prompter(err),
        settings(SettingsFilePath()) {
    state.AppFolder = appFolder;
    options = ReadStartUpSettings(settings);
    data::ApplyStartupSettings(engine);
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, speaker, windows, windows);
  }
  ~Session() { engine.CloseAll().IgnoreError(); }  // every command closes its tables itself

  // Tells a problem on the error stream; true when there was none.
  bool tell(const Problem& problem) {
    if (problem.ok()) return true;
    const Wording w = Describe(problem);
    prompter.message(w.text, w.title, w.icon);
    return false;
  }

  // Tells what failed after a change was stored, as a warning.
  void warn(const Problem& problem) {
    if (problem.ok()) return;
    const Wording w = Describe(problem);
    prompter.warning(w.text, w.title);
  }

  // Opens the table as the viewer does; 0 after telling why not.
  int openViewerArea() {
    if (!tell(CalendarPlaceProblem(state.AppFolder))) return 0;
    int area = 0;
    return tell(ProblemOf(OpenCalendar(engine, state.AppFolder, QStringLiteral("CALENDAR"), &area))) ? area : 0;
  }

  QTextStream& err;
  SharedState state;
  ProgramOptions options;
  ManualClock clock;
  StreamPrompter prompter;
  SettingsStore settings;
  xbase::Engine engine;
  TranscriptSpeaker speaker;
  NoWindows windows;
  std::unique_ptr<AlarmService> alarms;
  // A change reached the table: a running program is told, whatever failed after it.
  bool committed = false;
};

int cmdAdd(Session& s, const Parsed& p, QTextStream& out) {
  EventInput in;
  in.activity = p.values.at(QStringLiteral("--text"));
  const QDateTime activity =
      *parseMoment(p.values.at(QStringLiteral("--activity")), QStringLiteral("--activity"), false);
  const QDateTime remind =
      p.values.count(QStringLiteral("--remind"))
          ? *parseMoment(p.values.at(QStringLiteral("--remind")), QStringLiteral("--remind"), false)
          : activity;
  const auto wall = [](const QString& text) {
    const QString t = text.trimmed();
    return std::pair{QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd")),
                     QTime::fromString(t.mid(11), QStringLiteral("HH:mm"))};
  };
  std::tie(in.activityDate, in.activityTime) = wall(p.values.at(QStringLiteral("--activity")));
  std::tie(in.remindDate, in.remindTime) = p.values.count(QStringLiteral("--remind"))
                                               ? wall(p.values.at(QStringLiteral("--remind")))
                                               : std::pair{in.activityDate, in.activityTime};
  if (p.values.count(QStringLiteral("--type"))) in.event = p.values.at(QStringLiteral("--type"));
  if (p.values.count(QStringLiteral("--memo"))) in.memo = p.values.at(QStringLiteral("--memo"));
  if (p.values.count(QStringLiteral("--sound")))
    in.sound = *parseInt(p.values.at(QStringLiteral("--sound")), "--sound", 0, 8);
  in.sayDate = p.flags.contains(QStringLiteral("--say-date")) ? 1 : 0;
  in.sayTime = p.flags.contains(QStringLiteral("--say-time")) ? 1 : 0;
  if (p.values.count(QStringLiteral("--countdown"))) {
    in.countdown = *parseInt(p.values.at(QStringLiteral("--countdown")), "--countdown", 1, 99999);
    in.countdownOn = true;
  }
  EventSaver saver(s.state, s.clock, s.engine, s.speaker, *s.alarms, s.windows);
  const SaveResult r = saver.SaveEvent(in);
  if (!r.saved) {
    s.tell(r.problem);
    return 1;
  }
  s.committed = true;
  out << r.recno << Qt::endl;
  s.warn(r.problem);
  const auto skipped = [&](const char* what, QDate d, QTime t) {
    s.err << QStringLiteral("Note: %1 %2 does not exist on %3 (the clocks go forward); it counts as %4.")
                 .arg(QLatin1String(what), t.toString(QStringLiteral("HH:mm")), d.toString(Qt::ISODate),
                      AlarmMoment(d, MinuteOfDay(t)).time().toString(QStringLiteral("HH:mm")))
          << Qt::endl;
  };
  if (r.activityTimeSkipped) skipped("the activity time", in.activityDate, in.activityTime);
  if (r.remindTimeSkipped) skipped("the reminder time", in.remindDate, in.remindTime);
  return 0;
}

// The list's lines, read whole before any is printed.
xbase::Status listLines(Session& s, int area, bool all, QStringList* lines) {
  lines->clear();
  xbase::WorkArea* wa = s.engine.Area(area);
  xbase::Status st = wa->SetOrder(wa->TagArea("ALARM"));
  if (st.ok() && !all) st = wa->Query(data::CurrentRemindersQuery(s.clock.now()).toStdString());
  if (st.ok()) st = wa->GoTop();
  for (; st.ok() && !wa->Eof(); st = wa->Skip(1)) {
    *lines << QString::number(wa->RecNo()) + u'\t' + oneLine(TableText(*wa, "ALARMTEXT")) + u'\t' +
                  oneLine(TableText(*wa, "APPT_TEXT")) + u'\t' + oneLine(TableText(*wa, "DATETEXT"));
  }
  return st;
}

int cmdList(Session& s, const Parsed& p, QTextStream& out) {
  int area = s.openViewerArea();
  if (area < 1) return 1;
  const bool all = p.flags.contains(QStringLiteral("--all"));
  QStringList lines;
  xbase::Status st = listLines(s, area, all, &lines);
  if (IsIndexTrouble(st)) {
    // Damage the opening did not show (keys out of order, say) is met as the list is read: the
    // index is rebuilt once, as the opening would have, and the list read again.
    s.engine.CloseAll().IgnoreError();  // nothing was changed: there is nothing to write out
    st = RepairCalendarIndex(s.engine.env(), s.state.AppFolder);
    if (st.ok()) {
      area = s.openViewerArea();
      if (area < 1) return 1;
      st = listLines(s, area, all, &lines);
    }
  }
  if (!st.ok()) {
    s.tell(ProblemOf(st));
    return 1;
  }
  for (const QString& line : lines) out << line << Qt::endl;
  return 0;
}

// Goes to a record that exists and is not deleted; false after saying why not.
bool goToLiveRecord(Session& s, xbase::WorkArea* wa, qint64 recno) {
  if (recno < 1 || recno > wa->RecCount() || !wa->Go(static_cast<uint32_t>(recno)).ok() || wa->Deleted()) {
    s.tell({ProblemKind::NoSuchReminder, {}, {}, recno});
    return false;
  }
  return true;
}

// A record's key (REC_NO) is bytes, not text: printable ASCII as it is, a backslash doubled, every
// other byte written \xNN as the table's own tools write them.
QString recordKeyText(const std::string& bytes) {
  QString out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '\\')
      out += QStringLiteral("\\\\");
    else if (u >= 0x20 && u < 0x7F)
      out += QLatin1Char(c);
    else
      out += QString::asprintf("\\x%02X", u);
  }
  return out;
}

int cmdShow(Session& s, const Parsed& p, QTextStream& out) {
  const qint64 recno = *parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0);
  const int area = s.openViewerArea();
  if (area < 1) return 1;
  xbase::WorkArea* wa = s.engine.Area(area);
  if (!goToLiveRecord(s, wa, recno)) return 1;
  for (const xbase::FieldDef& f : wa->Fields()) {
    std::string v;
    xbase::Status st = f.type == 'M' ? wa->GetMemo(f.name, &v) : wa->GetTrimString(f.name, &v);
    const QString text = !st.ok()             ? QString::fromStdString("<" + st.ToString() + ">")
                         : f.name == "REC_NO" ? recordKeyText(v)
                                              : oneLine(data::FromTableText(v));
    out << QString::fromStdString(f.name) << '\t' << text << Qt::endl;
  }
  return 0;
}

int cmdDelete(Session& s, const Parsed& p, QTextStream&) {
  const qint64 recno = *parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0);
  const int area = s.openViewerArea();
  if (area < 1) return 1;
  if (!goToLiveRecord(s, s.engine.Area(area), recno)) return 1;
  bool deleted = false;
  const Problem problem = s.alarms->DeleteReminder(area, recno, &deleted);
  if (!deleted) {
    s.tell(problem);
    return 1;
  }
  s.committed = true;
  s.warn(problem);
  s.warn(ProblemOf(s.engine.CloseAll()));
  s.warn(s.alarms->FindNextAlarm());
  return 0;
}

int cmdSnooze(Session& s, const Parsed& p, QTextStream& out) {
  const qint64 recno = *parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0);
  const int choice = *parseInt(p.words.at(1), "CHOICE", 0, 8);
  const int area = s.openViewerArea();
  if (area < 1) return 1;
  if (!goToLiveRecord(s, s.engine.Area(area), recno)) return 1;
  const AlarmService::SnoozeOutcome snoozed = s.alarms->Snooze(area, recno, choice);
  if (!snoozed.alarm.isValid()) {
    s.tell(snoozed.problem);
    return 1;
  }
  s.committed = true;
  out << momentText(snoozed.alarm) << Qt::endl;
  s.warn(snoozed.problem);
  return 0;
}

int cmdDue(Session& s, const Parsed& p, QTextStream& out) {
  // A dry run scans the real table but writes nothing to it.
  const bool dryRun = p.flags.contains(QStringLiteral("--dry-run"));
  s.alarms->setDryRun(dryRun);
  AlarmService::ScanCounts counts;
  const Problem problem = s.alarms->ScanDueAlarms(&counts);
  // Each alarm moved is a change of its own; a clean scan is told as before, though it moved none.
  s.committed = !dryRun && (counts.stored > 0 || problem.ok());
  if (dryRun && IsIndexTrouble(problem)) {
    // The scan could not read the whole table, so none of what it planned is printed.
    s.prompter.message(
        QStringLiteral("The reminder index is damaged (%1). A dry run only reads, and the index cannot be "
                       "repaired by a command that only reads; any other command (\"chimewise-cli next\", say) "
                       "rebuilds it.")
            .arg(problem.detail));
    return 1;
  }
  for (const QString& line : s.speaker.lines) out << oneLine(line) << Qt::endl;
  if (problem.ok()) return 0;
  if (counts.stored > 0 && counts.failed == 0) {
    s.warn(problem);
    return 0;
  }
  s.tell(problem);
  return 1;
}

int cmdExport(Session& s, const Parsed& p, QTextStream& out) {
  if (!s.tell(MoveCalendarMemos(s.engine, s.state.AppFolder).problem)) return 1;  // a table of an earlier version
  const int area = s.openViewerArea();
  if (area < 1) return 1;
  const ExportResult r = ExportCalendar(*s.engine.Area(area), p.flags.contains(QStringLiteral("--all")), s.clock.now());
  if (!s.tell(r.problem)) return 1;
  if (!r.error.isEmpty()) {
    s.prompter.message(r.error);
    return 1;
  }
  const QString path = p.words.at(0);
  if (path == QStringLiteral("-")) {
    out << QString::fromUtf8(r.text);
    out.flush();
    return 0;
  }
  // Written whole or not at all: a file that was there stays as it was when writing fails.
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(r.text) != r.text.size() || !file.commit()) {
    s.prompter.message(QStringLiteral("%1 cannot be written (%2)").arg(path, file.errorString()));
    return 1;
  }
  s.err << QStringLiteral("exported %1 reminder%2").arg(r.count).arg(r.count == 1 ? "" : "s") << Qt::endl;
  return 0;
}

// --lead and --all-day-at, checked already.
ImportOptions importOptions(const Parsed& p) {
  ImportOptions options;
  if (p.values.count(QStringLiteral("--lead")))
    options.leadMinutes = *parseInt(p.values.at(QStringLiteral("--lead")), "--lead", 0, 99999);
  if (p.values.count(QStringLiteral("--all-day-at")))
    options.allDayAt =
        QTime::fromString(p.values.at(QStringLiteral("--all-day-at")).trimmed(), QStringLiteral("HH:mm"));
  return options;
}

int cmdImport(Session& s, const Parsed& p, QTextStream& out) {
  const ImportOptions options = importOptions(p);
  if (!s.tell(CalendarPlaceProblem(s.state.AppFolder))) return 1;
  if (!s.tell(MoveCalendarMemos(s.engine, s.state.AppFolder).problem)) return 1;  // a table of an earlier version
  CalendarImporter importer(s.state, s.clock, s.engine, s.speaker, *s.alarms, s.windows);
  const ImportReport r = importer.Import(p.words.at(0), options);
  if (!r.error.isEmpty()) {
    s.prompter.message(r.error + QStringLiteral("; nothing was changed"));
    return 1;
  }
  s.committed = r.imported + r.updated + r.deleted > 0;
  out << ImportSummary(r) << Qt::endl;
  for (const QString& line : r.skipped) out << QStringLiteral("skipped ") << oneLine(line) << Qt::endl;
  if (s.committed) {
    s.warn(r.problem);
    return 0;
  }
  return s.tell(r.problem) ? 0 : 1;
}

int cmdSync(Session& s, const Parsed& p, QTextStream& out) {
  SyncCommand command;
  if (p.values.count(QStringLiteral("--server"))) command.server = p.values.at(QStringLiteral("--server"));
  if (p.values.count(QStringLiteral("--user"))) command.user = p.values.at(QStringLiteral("--user"));
  command.import = importOptions(p);
  if (!s.tell(CalendarPlaceProblem(s.state.AppFolder))) return 1;
  return RunSyncCommand(command, {{s.state, s.clock, s.engine, s.speaker, *s.alarms, s.windows}, s.settings}, out,
                        s.err, &s.committed);
}

int cmdSayTime(Session& s, QTextStream& out) {
  TalkingClock clock(s.options, s.settings, s.clock, s.speaker);
  clock.AnnounceTime();
  for (const QString& line : s.speaker.lines) out << oneLine(line) << Qt::endl;
  return 0;
}

}  // namespace

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err) {
  const auto usage = [&err](const UsageError& e) {
    err << "chimewise-cli: " << e.text << Qt::endl << kUsage;
    return 2;
  };
  QStringList args = arguments;
  QString appFolder = DefaultAppFolder();
  QDateTime now;
  // The global options usually come before the command; after it they are taken too.
  const auto takeGlobal = [&](const QString& option) -> std::optional<UsageError> {
    if (args.isEmpty()) return UsageError{option + QStringLiteral(" needs a value")};
    if (option == QStringLiteral("--app-folder")) {
      appFolder = QDir::cleanPath(args.takeFirst());
      return std::nullopt;
    }
    const Checked<QDateTime> moment = parseMoment(args.takeFirst(), option, true);
    if (moment.error()) return moment.error();
    now = *moment;
    return std::nullopt;
  };
  while (!args.isEmpty() && args.first().startsWith(QStringLiteral("--"))) {
    const QString option = args.takeFirst();
    if (option == QStringLiteral("--help")) {
      out << kUsage;
      return 0;
    }
    if (option != QStringLiteral("--app-folder") && option != QStringLiteral("--now"))
      return usage({QStringLiteral("unknown option ") + option});
    if (const auto e = takeGlobal(option)) return usage(*e);
  }
  if (args.isEmpty()) return usage({QStringLiteral("no command given")});
  const QString command = args.takeFirst();
  {
    // A global option after the command (but never a value of the command's own options).
    static const QStringList withValues = {"--text",      "--activity", "--remind",     "--type",   "--memo", "--sound",
                                           "--countdown", "--lead",     "--all-day-at", "--server", "--user"};
    QStringList rest;
    while (!args.isEmpty()) {
      const QString a = args.takeFirst();
      if (a == QStringLiteral("--app-folder") || a == QStringLiteral("--now")) {
        if (const auto e = takeGlobal(a)) return usage(*e);
      } else {
        rest << a;
        if (withValues.contains(a) && !args.isEmpty()) rest << args.takeFirst();
      }
    }
    args = rest;
  }

  if (command == QStringLiteral("mail")) {
    const Checked<MailRequest> request = ReadMailArguments(args);
    if (const auto e = request.error()) return usage(*e);
    return RunMailCommand(*request, appFolder, now, out, err);
  }
  const Checked<Parsed> read = readCommand(command, args);
  if (const auto e = read.error()) return usage(*e);
  const Parsed& p = *read;

  const SeedResult seed = SeedAppFolder(appFolder, TemplateFolder());
  if (!seed.error.isEmpty()) {
    err << seed.error << Qt::endl;
    return 1;
  }
  Session s(appFolder, now, err);
  // Another program's index in the calendar's place is replaced before any command meets it,
  // and the user who shares the table with that program is told, once. A dry run writes nothing.
  const bool dryRun = command == QStringLiteral("due") && p.flags.contains(QStringLiteral("--dry-run"));
  if (!dryRun && command != QStringLiteral("say-time") && command != QStringLiteral("joke") &&
      data::IndexIsForeign(s.engine, data::CalendarPath(s.state.AppFolder))) {
    const xbase::Status rebuilt = RepairCalendarIndex(s.engine.env(), s.state.AppFolder);
    s.warn(rebuilt.ok() ? ForeignIndexProblem(s.state.AppFolder) : ProblemOf(rebuilt));
  }
  int code = 1;
  if (command == QStringLiteral("add"))
    code = cmdAdd(s, p, out);
  else if (command == QStringLiteral("list"))
    code = cmdList(s, p, out);
  else if (command == QStringLiteral("show"))
    code = cmdShow(s, p, out);
  else if (command == QStringLiteral("delete"))
    code = cmdDelete(s, p, out);
  else if (command == QStringLiteral("snooze"))
    code = cmdSnooze(s, p, out);
  else if (command == QStringLiteral("next")) {
    s.tell(s.alarms->FindNextAlarm());
    out << momentText(s.alarms->nextAlarm().value_or(QDateTime())) << Qt::endl;
    code = 0;
  } else if (command == QStringLiteral("due"))
    code = cmdDue(s, p, out);
  else if (command == QStringLiteral("export"))
    code = cmdExport(s, p, out);
  else if (command == QStringLiteral("import"))
    code = cmdImport(s, p, out);
  else if (command == QStringLiteral("sync"))
    code = cmdSync(s, p, out);
  else if (command == QStringLiteral("say-time"))
    code = cmdSayTime(s, out);
  else if (command == QStringLiteral("joke"))
    code = CliJoke(s.engine, s.settings, s.prompter, s.state.AppFolder, out, err);
  s.warn(ProblemOf(s.engine.CloseAll()));
  // Whatever printed an error did not fully succeed; a warning is no error.
  if (code == 0 && s.prompter.count > 0) code = 1;
  if (s.committed) tellRunningProgram();
  return code;
}

}  // namespace chimewise

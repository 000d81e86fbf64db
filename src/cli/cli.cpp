#include "cli/cli.h"

#include "alarms/alarm_service.h"
#include "alarms/repeat_series.h"
#include "character/transcript_speaker.h"
#include "cli/cli_joke.h"
#include "cli/cli_mail.h"
#include "cli/cli_sync.h"
#include "cli/terminal_text.h"
#include "cli/usage.h"
#include "clock/talking_clock.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/command_line.h"
#include "core/moment_words.h"
#include "core/ports.h"
#include "core/problem.h"
#include "core/prompts.h"
#include "core/repeat_rule.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/startup_settings.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/calendar_memo.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
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
#include <vector>

namespace chimewise {

namespace {

// The usage text's first line; each command adds its own lines after it.
constexpr const char* kUsageHead = "usage: chimewise-cli [--app-folder DIR] [--now \"YYYY-MM-DD HH:MM:SS\"] COMMAND\n";

// Messages the logic would show in a box go to the error stream.
class StreamPrompter final : public Prompter {
 public:
  explicit StreamPrompter(QTextStream& err) : m_err(err) {}
  void message(const QString& text, const QString& title = {}) {
    m_err << TerminalText((title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text) << Qt::endl;
    ++count;
  }
  // The tool has no event loop to wait in: a message is written and done with, a question is
  // answered No, and the continuation runs right away.
  void notice(const QString& text, const QString& title, PromptIcon, std::function<void()> closed) override {
    message(text, title);
    if (closed) closed();
  }
  void ask(const QString& text, const QString& title, PromptIcon, std::function<void(bool)> answered) override {
    message(text + QStringLiteral(" [answered No]"), title);
    answered(false);
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
  QDateTime now;  // the moment the command runs at, for what is said relative to it
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

// The values a command takes, each checked before anything is written.
bool given(const Parsed& p, const char* option) { return p.values.count(QString::fromLatin1(option)) > 0; }
const QString& value(const Parsed& p, const char* option) { return p.values.at(QString::fromLatin1(option)); }

// What add was told, read: the activity's words, its moment and reminder's, how it repeats, and
// the phrases as they were understood.
struct AddReading {
  QString activity;
  MomentReading when;
  MomentReading remind;
  QString phrase;  // the words read as the activity's time
};

// A moment given to --activity or --remind: the exact "YYYY-MM-DD HH:MM" or any phrase of when.
Checked<MomentReading> readWhen(const QString& text, const QString& option, const QDateTime& now) {
  const QString trimmed = text.trimmed();
  const qsizetype blank = trimmed.indexOf(u' ');
  const QDate date = QDate::fromString(trimmed.left(blank), QStringLiteral("yyyy-MM-dd"));
  const QTime time = QTime::fromString(trimmed.mid(blank + 1), QStringLiteral("HH:mm"));
  if (blank > 0 && date.isValid() && time.isValid()) {
    // The exact form keeps its meaning of old: any moment, past ones too.
    MomentReading r;
    r.date = date;
    r.time = time;
    r.moment = AlarmMoment(date, MinuteOfDay(time));
    return r;
  }
  const MomentReading r = ReadMoment(text, now, QLocale::system());
  if (!r.ok()) return UsageError{QStringLiteral("%1 \"%2\": %3").arg(option, text, r.refusal)};
  return r;
}

Checked<AddReading> readAdd(const Parsed& p) {
  AddReading a;
  const bool line = !p.words.isEmpty();
  if (line && (given(p, "--text") || given(p, "--activity")))
    return UsageError{
        QStringLiteral("add takes the activity and its time either as one line or as --text and "
                       "--activity, not both")};
  if (line) {
    const LineReading r = ReadMomentLine(p.words.front(), p.now, QLocale::system());
    if (!r.moment.ok()) return UsageError{r.moment.refusal};
    if (r.activity.isEmpty())
      return UsageError{QStringLiteral("add needs the activity's words as well as when (\"%1\")").arg(r.phrase)};
    a.activity = r.activity;
    a.when = r.moment;
    a.phrase = r.phrase;
  } else {
    if (!given(p, "--text") || value(p, "--text").trimmed().isEmpty())
      return UsageError{
          QStringLiteral("add needs --text with the activity's words, or one line such as "
                         "\"Call mom tomorrow at 9\"")};
    if (!given(p, "--activity")) return UsageError{QStringLiteral("add needs --activity")};
    a.activity = value(p, "--text");
    const Checked<MomentReading> when = readWhen(value(p, "--activity"), QStringLiteral("--activity"), p.now);
    if (auto e = when.error()) return *e;
    a.when = *when;
    a.phrase = value(p, "--activity");
  }
  a.remind = a.when;
  a.remind.repeat.clear();
  if (given(p, "--remind")) {
    const Checked<MomentReading> remind = readWhen(value(p, "--remind"), QStringLiteral("--remind"), p.now);
    if (auto e = remind.error()) return *e;
    if (!remind->repeat.isEmpty())
      return UsageError{QStringLiteral("--remind takes one moment, not a repeat (\"%1\")").arg(value(p, "--remind"))};
    a.remind = *remind;
  }
  return a;
}

// --repeat: an RRULE value, or a repeat in words ("every monday and thursday"), as an RRULE value.
Checked<QString> readRepeat(const QString& text, const QDateTime& now) {
  const RepeatRuleRead rule = ReadRepeatRule(text.trimmed());
  if (rule.rule) return RepeatRuleText(*rule.rule);
  const MomentReading words = ReadMoment(text, now, QLocale::system());
  if (words.ok() && !words.repeat.isEmpty()) return words.repeat;
  return UsageError{QStringLiteral("--repeat \"%1\" is neither a repeat rule (%2) nor a repeat in words (%3)")
                        .arg(text, rule.error, words.ok() ? QStringLiteral("it names no repeat") : words.refusal)};
}

std::optional<UsageError> checkAdd(const Parsed& p) {
  if (auto e = readAdd(p).error()) return e;
  if (given(p, "--repeat"))
    if (auto e = readRepeat(value(p, "--repeat"), p.now).error()) return e;
  if (given(p, "--sound"))
    if (auto e = parseInt(value(p, "--sound"), "--sound", 0, 8).error()) return e;
  if (given(p, "--countdown"))
    if (auto e = parseInt(value(p, "--countdown"), "--countdown", 1, 99999).error()) return e;
  return std::nullopt;
}

std::optional<UsageError> checkRecord(const Parsed& p) { return parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0).error(); }

std::optional<UsageError> checkSnooze(const Parsed& p) {
  if (auto e = checkRecord(p)) return e;
  return parseInt(p.words.at(1), "CHOICE", 0, 8).error();
}

std::optional<UsageError> checkImport(const Parsed& p) {
  if (given(p, "--lead"))
    if (auto e = parseInt(value(p, "--lead"), "--lead", 0, 99999).error()) return e;
  if (given(p, "--all-day-at") &&
      !QTime::fromString(value(p, "--all-day-at").trimmed(), QStringLiteral("HH:mm")).isValid())
    return UsageError{
        QStringLiteral("--all-day-at wants a time of day written HH:MM, not \"%1\"").arg(value(p, "--all-day-at"))};
  return std::nullopt;
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
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, speaker, windows);
  }
  ~Session() { engine.CloseAll().IgnoreError(); }  // every command closes its tables itself

  // Tells a problem on the error stream; true when there was none.
  bool tell(const Problem& problem) {
    if (problem.ok()) return true;
    const Wording w = Describe(problem);
    prompter.message(w.text, w.title);
    return false;
  }

  // Tells what failed after a change was stored, as a warning.
  void warn(const Problem& problem) {
    if (problem.ok()) return;
    const Wording w = Describe(problem);
    prompter.warning(w.text, w.title);
  }

  // The table opened as the viewer opens it, for the command; not open after telling why not.
  std::optional<data::TableHandle> openViewerTable() {
    if (!tell(CalendarPlaceProblem(state.AppFolder))) return std::nullopt;
    data::TableHandle table = data::TableHandle::Calendar(engine, state.AppFolder, QStringLiteral("CALENDAR"));
    if (!tell(ProblemOf(table.status()))) return std::nullopt;
    return table;
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
  const AddReading a = *readAdd(p);
  EventInput in;
  in.activity = a.activity;
  in.activityDate = a.when.date;
  in.activityTime = a.when.time;
  in.remindDate = a.remind.date;
  in.remindTime = a.remind.time;
  in.repeat = a.when.repeat;
  QString repeatText = a.when.repeatText;
  if (given(p, "--repeat")) {
    in.repeat = *readRepeat(value(p, "--repeat"), p.now);
    repeatText = RepeatSummary(in.repeat);
  }
  const QString timeFormat = s.alarms->options().timeFormat;
  // How the reminder reads: it stands at its repeat's first occurrence, as the save puts it.
  const auto reading = [&](const QDateTime& at) {
    return QStringLiteral("\"%1\" \u2014 %2%3")
        .arg(oneLine(in.activity), LongMomentText(at, timeFormat),
             repeatText.isEmpty() ? QString() : QStringLiteral(", repeats ") + repeatText);
  };
  if (p.flags.contains(QStringLiteral("--dry-run"))) {
    const std::optional<QDateTime> first =
        in.repeat.isEmpty() ? std::nullopt : FirstRepeatOccurrence(in.repeat, a.when.moment);
    out << QStringLiteral("Would add ") << reading(first.value_or(a.when.moment)) << Qt::endl;
    if (a.remind.moment != a.when.moment)
      out << QStringLiteral("Reminder: ") << LongMomentText(a.remind.moment, timeFormat) << Qt::endl;
    return 0;
  }
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
  EventSaver saver(s.state, s.alarms->options(), s.clock, s.engine);
  const SaveResult r = saver.SaveEvent(in);
  if (!r.saved) {
    s.tell(r.problem);
    return 1;
  }
  s.committed = true;
  const QDateTime saved(r.record.eventDate, QTime(0, 0).addSecs(r.record.startTime * 60));
  out << QStringLiteral("Added %1: ").arg(r.recno) << reading(saved) << Qt::endl;
  // What failed after the record was stored is told before the next alarm's lookup's trouble.
  const Problem found = s.alarms->FindNextAlarm();
  s.warn(r.problem.ok() ? found : r.problem);
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

// The repeat of the reminder at the work area's record in words; empty when it does not repeat.
QString repeatSummary(Session& s, xbase::WorkArea& wa) {
  std::string id;
  if (!wa.GetString("REC_NO", &id).ok()) return {};
  const std::optional<KeptEvent> kept =
      KeptEvents::BesideTable(QString::fromStdString(wa.path())).Get(QByteArray::fromStdString(id));
  return kept ? SeriesSummary(kept->series, s.options.timeFormat) : QString();
}

// The list's lines, read whole before any is printed.
xbase::Status listLines(Session& s, xbase::WorkArea& table, bool all, QStringList* lines) {
  lines->clear();
  xbase::WorkArea* wa = &table;
  xbase::Status st = wa->SetOrder(wa->TagArea("ALARM"));
  if (st.ok() && !all) st = wa->Query(data::CurrentRemindersQuery(s.clock.now()).toStdString());
  if (st.ok()) st = wa->GoTop();
  for (; st.ok() && !wa->Eof(); st = wa->Skip(1)) {
    QString line = QString::number(wa->RecNo()) + u'\t' + oneLine(TableText(*wa, "ALARMTEXT")) + u'\t' +
                   oneLine(TableText(*wa, "APPT_TEXT")) + u'\t' + oneLine(TableText(*wa, "DATETEXT"));
    // How it repeats, last, for a reminder that does.
    if (const QString repeat = repeatSummary(s, *wa); !repeat.isEmpty()) line += u'\t' + oneLine(repeat);
    *lines << line;
  }
  return st;
}

int cmdList(Session& s, const Parsed& p, QTextStream& out) {
  std::optional<data::TableHandle> table = s.openViewerTable();
  if (!table) return 1;
  const bool all = p.flags.contains(QStringLiteral("--all"));
  QStringList lines;
  xbase::Status st = listLines(s, **table, all, &lines);
  if (IsIndexTrouble(st)) {
    // Damage the opening did not show (keys out of order, say) is met as the list is read: the
    // index is rebuilt once, as the opening would have, and the list read again.
    table.reset();  // nothing was changed: there is nothing to write out
    st = RepairCalendarIndex(s.engine.env(), s.state.AppFolder);
    if (st.ok()) {
      std::optional<data::TableHandle> again = s.openViewerTable();
      if (!again) return 1;
      st = listLines(s, **again, all, &lines);
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
  const std::optional<data::TableHandle> table = s.openViewerTable();
  if (!table) return 1;
  xbase::WorkArea* wa = table->get();
  if (!goToLiveRecord(s, wa, recno)) return 1;
  for (const xbase::FieldDef& f : wa->Fields()) {
    std::string v;
    xbase::Status st = f.type == 'M' ? wa->GetMemo(f.name, &v) : wa->GetTrimString(f.name, &v);
    const QString text = !st.ok()             ? QString::fromStdString("<" + st.ToString() + ">")
                         : f.name == "REC_NO" ? recordKeyText(v)
                                              : oneLine(data::FromTableText(*wa, v));
    out << QString::fromStdString(f.name) << '\t' << text << Qt::endl;
  }
  if (const std::optional<KeptEvent> kept = KeptEventAt(*wa))
    if (const QString rule = RuleOfSeries(kept->series); !rule.isEmpty())
      out << "REPEAT\t" << oneLine(SeriesSummary(kept->series, s.options.timeFormat)) << " (" << oneLine(rule) << ")"
          << Qt::endl;
  return 0;
}

// Skips, deletes or deals with one occurrence of a repeating reminder; prints where it stands now.
int stepOccurrence(Session& s, qint64 recno, OccurrenceStep step, QTextStream& out) {
  const std::optional<data::TableHandle> table = s.openViewerTable();
  if (!table) return 1;
  if (!goToLiveRecord(s, table->get(), recno)) return 1;
  const AlarmService::StepOutcome r = s.alarms->StepOccurrence(table->get(), recno, step);
  if (r.notRepeating) {
    s.prompter.message(QStringLiteral("Reminder %1 does not repeat; nothing was changed.").arg(recno));
    return 1;
  }
  if (!r.done) {
    s.tell(r.problem);
    return 1;
  }
  s.committed = true;
  if (r.excluded.isValid()) out << QStringLiteral("taken out ") << momentText(r.excluded) << Qt::endl;
  out << QStringLiteral("next ") << momentText(r.next) << Qt::endl;
  s.warn(r.problem);
  return 0;
}

int cmdSkip(Session& s, const Parsed& p, QTextStream& out) {
  return stepOccurrence(s, *parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0), OccurrenceStep::Skip, out);
}

int cmdDelete(Session& s, const Parsed& p, QTextStream& out) {
  const qint64 recno = *parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0);
  if (p.flags.contains(QStringLiteral("--occurrence"))) return stepOccurrence(s, recno, OccurrenceStep::DeleteOne, out);
  std::optional<data::TableHandle> table = s.openViewerTable();
  if (!table) return 1;
  if (!goToLiveRecord(s, table->get(), recno)) return 1;
  bool deleted = false;
  const Problem problem = s.alarms->DeleteReminder(table->get(), recno, &deleted);
  if (!deleted) {
    s.tell(problem);
    return 1;
  }
  s.committed = true;
  s.warn(problem);
  s.warn(ProblemOf(table->Close()));
  s.warn(s.alarms->FindNextAlarm());
  return 0;
}

int cmdSnooze(Session& s, const Parsed& p, QTextStream& out) {
  const qint64 recno = *parseInt(p.words.at(0), "REC", 1, 0x7FFFFFF0);
  const int choice = *parseInt(p.words.at(1), "CHOICE", 0, 8);
  const std::optional<data::TableHandle> table = s.openViewerTable();
  if (!table) return 1;
  if (!goToLiveRecord(s, table->get(), recno)) return 1;
  const AlarmService::SnoozeOutcome snoozed = s.alarms->Snooze(table->get(), recno, choice);
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
  const std::optional<data::TableHandle> table = s.openViewerTable();
  if (!table) return 1;
  const ExportResult r = ExportCalendar(**table, p.flags.contains(QStringLiteral("--all")), s.clock.now());
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
  CalendarImporter importer(ReminderStore{s.state, s.clock, s.engine, s.speaker, *s.alarms, s.windows});
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

int cmdNext(Session& s, const Parsed&, QTextStream& out) {
  s.tell(s.alarms->FindNextAlarm());
  out << momentText(s.alarms->nextAlarm().value_or(QDateTime())) << Qt::endl;
  return 0;
}

int cmdSayTime(Session& s, const Parsed&, QTextStream& out) {
  TalkingClock clock(s.options, s.settings, s.clock, s.speaker);
  clock.AnnounceTime();
  for (const QString& line : s.speaker.lines) out << oneLine(line) << Qt::endl;
  return 0;
}

int cmdJoke(Session& s, const Parsed&, QTextStream& out) {
  return CliJoke(s.engine, s.settings, s.prompter, s.state.AppFolder, out, s.err);
}

// Mail reads its own words and opens no table.
Checked<int> runMail(const QStringList& args, const QString& appFolder, const QDateTime& now, QTextStream& out,
                     QTextStream& err) {
  const Checked<MailRequest> request = ReadMailArguments(args);
  if (const auto e = request.error()) return *e;
  return RunMailCommand(*request, appFolder, now, out, err);
}

bool always(const Parsed&) { return true; }
bool never(const Parsed&) { return false; }

// One command of the tool: everything about it is its row in kCommands.
struct Command {
  QString name;
  const char* usage;                                            // its lines of the usage text
  QStringList valueOptions;                                     // options written "--name value"
  QStringList flagOptions;                                      // options written "--name" alone
  int words = 0;                                                // the words it takes besides its options
  int optionalWords = 0;                                        // and how many more it may take
  std::optional<UsageError> (*check)(const Parsed&) = nullptr;  // its values, read before anything is written
  int (*run)(Session&, const Parsed&, QTextStream& out) = nullptr;
  // It meets the calendar's index, so another program's index in its place is replaced first.
  bool (*meetsIndex)(const Parsed&) = always;
  // Instead of all of the above but name and usage: a command that reads its own words and needs
  // no session. Its answer is the exit code, or the usage error that says why it did not run.
  Checked<int> (*runAlone)(const QStringList& args, const QString& appFolder, const QDateTime& now, QTextStream& out,
                           QTextStream& err) = nullptr;
};

// The commands in the order of the usage text.
const std::vector<Command> kCommands = {
    {.name = "add",
     .usage = "  add \"LINE\" | --text TEXT --activity WHEN   [--remind WHEN] [--type TYPE] [--memo TEXT]\n"
              "      [--sound 0-8] [--say-date] [--say-time] [--countdown MINUTES] [--dry-run]\n"
              "                      a reminder: LINE is the activity with when at its end or start (\"Call mom\n"
              "                      tomorrow at 9\", \"in 20 minutes stretch\"); WHEN is \"YYYY-MM-DD HH:MM\" or\n"
              "                      as people say it: now, +15, in 2 hours, at 9, 9:30 pm, noon, tonight,\n"
              "                      tomorrow morning, friday at 5pm, next monday (the first Monday after\n"
              "                      today), 24 Dec, 2026-12-24, every weekday at 9:30, every 2 hours from 9 to 5.\n"
              "                      --dry-run: print how it was read and save nothing\n"
              "      [--repeat RULE]     how it repeats: an iCalendar RRULE value (\"FREQ=WEEKLY;BYDAY=MO,TH\") or\n"
              "                          words (\"every monday and thursday\", \"every 2 hours from 9 to 17\"),\n"
              "                          counted from the activity, which moves to the first occurrence from then on\n",
     .valueOptions = {"--text", "--activity", "--remind", "--type", "--memo", "--sound", "--countdown", "--repeat"},
     .flagOptions = {"--say-date", "--say-time", "--dry-run"},
     .optionalWords = 1,
     .check = checkAdd,
     .run = cmdAdd,
     // A dry run writes nothing, not even a repaired index.
     .meetsIndex = [](const Parsed& p) { return !p.flags.contains(QStringLiteral("--dry-run")); }},
    {.name = "list",
     .usage = "  list [--all]        reminders in the viewer's order: record, Reminder, Activity, Activity Date\n"
              "                      and, for one that repeats, how (\"every day at 8:00 am\")\n",
     .flagOptions = {"--all"},
     .run = cmdList},
    {.name = "show",
     .usage = "  show REC            every field of one record, and REPEAT for one that repeats\n",
     .words = 1,
     .check = checkRecord,
     .run = cmdShow},
    {.name = "delete",
     .usage = "  delete REC [--occurrence]\n"
              "                      delete a reminder (--occurrence: only the occurrence a repeating one stands\n"
              "                      at; the series goes on)\n",
     .flagOptions = {"--occurrence"},
     .words = 1,
     .check = checkRecord,
     .run = cmdDelete},
    {.name = "skip",
     .usage = "  skip REC            a repeating reminder's next occurrence will not happen; it moves on to the\n"
              "                      one after\n",
     .words = 1,
     .check = checkRecord,
     .run = cmdSkip},
    {.name = "snooze",
     .usage = "  snooze REC CHOICE   put a reminder off (0: 1 minute, 1: 5, 2: 10, 3: 30 minutes, 4: 1 hour,\n"
              "                      5: 3 hours, 6: 5 hours, 7: 1 day, 8: 1 week)\n",
     .words = 2,
     .check = checkSnooze,
     .run = cmdSnooze},
    {.name = "next", .usage = "  next                the next alarm, or \"none\"\n", .run = cmdNext},
    {.name = "due",
     .usage = "  due [--dry-run]     one alarm scan: what the character is asked to do, line by line\n",
     .flagOptions = {"--dry-run"},
     .run = cmdDue,
     // A dry run writes nothing, not even a repaired index.
     .meetsIndex = [](const Parsed& p) { return !p.flags.contains(QStringLiteral("--dry-run")); }},
    {.name = "say-time",
     .usage = "  say-time            the talking clock's announcement\n",
     .run = cmdSayTime,
     .meetsIndex = never},
    {.name = "joke",
     .usage = "  joke                the next joke or quote, and move on to the one after it\n",
     .run = cmdJoke,
     .meetsIndex = never},
    {.name = "export",
     .usage = "  export [--all] FILE.ics\n"
              "                      the reminders list shows (--all: every one) as an iCalendar file; \"-\" writes\n"
              "                      it on the standard output\n",
     .flagOptions = {"--all"},
     .words = 1,
     .run = cmdExport},
    {.name = "import",
     .usage = "  import [--lead MINUTES] [--all-day-at HH:MM] FILE.ics\n"
              "                      reminders from an iCalendar file: events and to-dos still to come, one\n"
              "                      reminder per repeating event; read again, it updates them. --lead: how long\n"
              "                      before its start an event without an alarm is reminded of (default 0);\n"
              "                      --all-day-at: when an all-day event is (default 09:00)\n",
     .valueOptions = {"--lead", "--all-day-at"},
     .words = 1,
     .check = checkImport,
     .run = cmdImport},
    {.name = "sync",
     .usage = kSyncUsage,
     .valueOptions = {"--server", "--user", "--lead", "--all-day-at"},
     .check = checkImport,
     .run = cmdSync},
    {.name = "mail", .usage = kMailUsage, .runAlone = runMail},
};

const Command* findCommand(const QString& name) {
  for (const Command& c : kCommands)
    if (c.name == name) return &c;
  return nullptr;
}

QString usageText() {
  QString text = QString::fromLatin1(kUsageHead);
  for (const Command& c : kCommands) text += QString::fromLatin1(c.usage);
  return text;
}

// The options and words of a command, in the form it takes, its values checked.
Checked<Parsed> readCommand(const Command& command, const QStringList& args, const QDateTime& now) {
  const Checked<Parsed> read = parseArgs(args, command.valueOptions, command.flagOptions);
  if (read.error()) return read;
  Parsed p = *read;
  p.now = now;
  if (p.words.size() < command.words || p.words.size() > command.words + command.optionalWords)
    return UsageError{QStringLiteral("%1 takes %2%3 argument%4")
                          .arg(command.name)
                          .arg(command.optionalWords > 0 ? QStringLiteral("at most ") : QString())
                          .arg(command.words + command.optionalWords)
                          .arg(command.words + command.optionalWords == 1 ? "" : "s")};
  if (command.check)
    if (auto e = command.check(p)) return *e;
  return p;
}

// Whether a word after the command is the value of an option, of any command.
bool takesValue(const QString& option) {
  for (const Command& c : kCommands)
    if (c.valueOptions.contains(option)) return true;
  return false;
}

}  // namespace

int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err) {
  // One line of what is wrong, and where the whole usage is.
  const auto usage = [&err](const UsageError& e) {
    err << "chimewise-cli: " << TerminalLine(e.text) << Qt::endl << "Try 'chimewise-cli --help'" << Qt::endl;
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
      out << usageText();
      return 0;
    }
    if (option != QStringLiteral("--app-folder") && option != QStringLiteral("--now"))
      return usage({QStringLiteral("unknown option ") + option});
    if (const auto e = takeGlobal(option)) return usage(*e);
  }
  if (args.isEmpty()) return usage({QStringLiteral("no command given")});
  const QString name = args.takeFirst();
  {
    // A global option after the command (but never a value of the command's own options).
    QStringList rest;
    while (!args.isEmpty()) {
      const QString a = args.takeFirst();
      if (a == QStringLiteral("--app-folder") || a == QStringLiteral("--now")) {
        if (const auto e = takeGlobal(a)) return usage(*e);
      } else {
        rest << a;
        if (takesValue(a) && !args.isEmpty()) rest << args.takeFirst();
      }
    }
    args = rest;
  }

  const Command* command = findCommand(name);
  if (!command) return usage({QStringLiteral("unknown command ") + name});
  if (command->runAlone) {
    const Checked<int> code = command->runAlone(args, appFolder, now, out, err);
    if (const auto e = code.error()) return usage(*e);
    return *code;
  }
  // One moment for the whole command: what is read relative to now and what the command does.
  if (!now.isValid()) now = QDateTime::currentDateTime();
  const Checked<Parsed> read = readCommand(*command, args, now);
  if (const auto e = read.error()) return usage(*e);
  const Parsed& p = *read;

  const SeedResult seed = SeedAppFolder(appFolder, TemplateFolder());
  if (!seed.error.isEmpty()) {
    err << seed.error << Qt::endl;
    return 1;
  }
  Session s(appFolder, now, err);
  // Another program's index in the calendar's place is replaced before any command meets it,
  // and the user who shares the table with that program is told, once.
  if (command->meetsIndex(p) && data::IndexIsForeign(s.engine, data::CalendarPath(s.state.AppFolder))) {
    const xbase::Status rebuilt = RepairCalendarIndex(s.engine.env(), s.state.AppFolder);
    s.warn(rebuilt.ok() ? ForeignIndexProblem(s.state.AppFolder) : ProblemOf(rebuilt));
  }
  int code = command->run(s, p, out);
  s.warn(ProblemOf(s.engine.CloseAll()));
  // Whatever printed an error did not fully succeed; a warning is no error.
  if (code == 0 && s.prompter.count > 0) code = 1;
  if (s.committed) tellRunningProgram();
  return code;
}

}  // namespace chimewise

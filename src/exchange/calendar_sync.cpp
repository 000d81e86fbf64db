#include "exchange/calendar_sync.h"

#include "alarms/alarm_service.h"
#include "core/clock.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "exchange/calendar_export.h"
#include "exchange/kept_changes.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTimeZone>
#include <xbase/engine.h>
#include <icalendar/icalendar.h>

#include <algorithm>

namespace chimewise {

namespace {

const QString kSyncAlias = QStringLiteral("CALSYNC");
// How many steps, or how long, may go by before the state is saved again. A state saved late only
// makes the next sync match by UID what this one already paired.
constexpr int kSaveEverySteps = 50;
constexpr qint64 kSaveEveryMs = 2000;
constexpr int kMaxListRounds = 50;  // a sync-collection the server cuts short, asked again
constexpr int kMaxNotes = 50;
constexpr int kMaxComponentsPerResource = 1000;

// Failures after which the rest of the pass cannot go better: it ends, and the next sync goes on.
bool EndsThePass(const caldav::Status& status) {
  switch (status.error) {
    case caldav::Error::Unreachable:
    case caldav::Error::Timeout:
    case caldav::Error::AuthenticationRefused:
    case caldav::Error::CertificateRefused:
    case caldav::Error::RedirectRefused:
    case caldav::Error::Cancelled:
    case caldav::Error::NotInstalled:
    case caldav::Error::InsufficientStorage: return true;
    default: return false;
  }
}

SyncOutcome Outcome(SyncResult result) {
  SyncOutcome o;
  o.result = result;
  return o;
}

QString Trailing(QString url) {
  if (!url.endsWith(u'/')) url += u'/';
  return url;
}

// The component a resource stands for: the one whose UID no other component's extends (a changed
// occurrence reads in as "UID/moment", beside its series).
const icalendar::ReadEvent* MainComponent(const icalendar::ReadResult& read) {
  for (const icalendar::ReadEvent& e : read.events) {
    const bool occurrence = std::any_of(read.events.begin(), read.events.end(), [&](const icalendar::ReadEvent& f) {
      return &f != &e && !f.uid.isEmpty() && e.uid.startsWith(f.uid + u'/');
    });
    if (!occurrence) return &e;
  }
  return nullptr;
}

QDateTime StartOf(const icalendar::ReadEvent& e) {
  return e.allDay ? QDateTime(e.date, QTime(0, 0), QTimeZone::systemTimeZone()) : e.start;
}

// The series line of a moved occurrence's new start, so that the series still comes to it once
// the reminder has moved past the occurrences before it.
QString OccurrenceLine(const icalendar::ReadEvent& e) {
  return e.allDay ? QStringLiteral("RDATE;VALUE=DATE:") + e.date.toString(QStringLiteral("yyyyMMdd"))
                  : QStringLiteral("RDATE;VALUE=DATE-TIME:") +
                        e.start.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

// What a resource of a series with occurrences moved on their own (RECURRENCE-ID) reads in as: the
// series standing at whichever comes first, its next occurrence or a moved one still to come, the
// moved ones' new starts added to its lines. One resource is one reminder.
icalendar::ReadEvent Standing(const icalendar::ReadResult& read, const icalendar::ReadEvent& main) {
  icalendar::ReadEvent out = main;
  const icalendar::ReadEvent* first = main.past ? nullptr : &main;
  for (const icalendar::ReadEvent& o : read.events) {
    if (&o == &main || !o.uid.startsWith(main.uid + u'/') || !o.refused.isEmpty() || o.cancelled || o.past) continue;
    if (!main.series.isEmpty()) out.series << OccurrenceLine(o);
    if (!first || StartOf(o) < StartOf(*first)) first = &o;
  }
  if (first && first != &main) {
    const QStringList series = out.series;
    out = *first;
    out.uid = main.uid;
    out.series = series;
    out.past = false;
  }
  return out;
}

}  // namespace

QString SyncSummary(const SyncReport& r) {
  return QStringLiteral(
             "from the server %1 new, %2 changed, %3 deleted; to the server %4 new, %5 changed, %6 deleted; "
             "%7 conflicts")
      .arg(r.pulledNew)
      .arg(r.pulledChanged)
      .arg(r.pulledDeleted)
      .arg(r.pushedNew)
      .arg(r.pushedChanged)
      .arg(r.pushedDeleted)
      .arg(r.conflicts);
}

QString SyncProblemText(const SyncReport& r) {
  if (!r.problem.ok()) return QStringLiteral("The reminders could not be synced: ") + Describe(r.problem).text;
  if (r.status.ok() && r.left > 0)
    return QStringLiteral("The sync is incomplete: %1 change%2 left for the next sync (the notes say which)")
        .arg(r.left)
        .arg(r.left == 1 ? QStringLiteral(" was") : QStringLiteral("s were"));
  const QString detail = r.status.message.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(r.status.message);
  switch (r.status.error) {
    case caldav::Error::None: return {};
    case caldav::Error::Unreachable: return QStringLiteral("The calendar server could not be reached") + detail;
    case caldav::Error::Timeout: return QStringLiteral("The calendar server did not answer in time") + detail;
    case caldav::Error::AuthenticationRefused:
      return QStringLiteral("The calendar server refused the user name or password");
    case caldav::Error::CertificateRefused:
      return QStringLiteral("The calendar server's certificate was refused") + detail;
    case caldav::Error::InsufficientStorage:
      return QStringLiteral("The calendar server has no room left for the reminders (quota)") + detail;
    case caldav::Error::NotFound: return QStringLiteral("There is no calendar at that address") + detail;
    case caldav::Error::NotInstalled:
      return QStringLiteral("Syncing needs libcurl, which could not be loaded") + detail;
    default: return QStringLiteral("The calendar server refused the sync") + detail;
  }
}

QUrl ResourceUrl(const QUrl& collection, const QString& uid) {
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._@-]{0,120}$"));
  const QString name =
      plain.match(uid).hasMatch()
          ? uid
          : QString::fromLatin1(QCryptographicHash::hash(uid.toUtf8(), QCryptographicHash::Sha256).toHex().left(40));
  return QUrl(Trailing(collection.toString())).resolved(QUrl(name + QStringLiteral(".ics")));
}

CalendarSync::CalendarSync(ReminderStore store, std::unique_ptr<caldav::Client> server, QUrl address)
    : m_store(store), m_kept(store.state.AppFolder), m_address(std::move(address)), m_server(std::move(server)) {}

CalendarSync::~CalendarSync() {
  // A reading under way stops, and the port goes: an answer still on its way is dropped, never
  // delivered to a half-gone pass.
  m_parsing.reset();
  m_server.reset();
}

// ---- running the steps ----------------------------------------------------------------------

// Each step ends by naming the next one; a port that answers before it returns only names it, and
// the loop here takes it, so that a long pass never runs deeper into the stack.
void CalendarSync::Then(std::function<void()> step) {
  m_step = std::move(step);
  Pump();
}

void CalendarSync::Pump() {
  if (m_pumping) return;
  m_pumping = true;
  while (m_step && !m_over) {
    std::function<void()> step = std::move(m_step);
    m_step = nullptr;
    step();
  }
  m_pumping = false;
  if (m_over && finished) {
    const auto done = std::move(finished);
    finished = nullptr;
    done(m_report);  // last: it may end this pass's owner
  }
}

void CalendarSync::Start() {
  if (m_started) return;
  m_started = true;
  m_now = m_store.clock.now();
  m_statePath = SyncStatePath(m_store.state.AppFolder);
  m_server->discover([this](const caldav::Discovery& d) { Then([this, d] { Discovered(d); }); });
  Pump();
}

void CalendarSync::Finish() {
  m_syncState = FinishSync(m_syncState, m_collection.toString(), m_plan, m_listing, m_allDone && m_report.ok());
  if (!m_collection.isEmpty()) SaveState(true);
  m_over = true;
}

void CalendarSync::Fail(const caldav::Status& status) {
  m_report.status = status;
  m_allDone = false;
  Finish();
}

void CalendarSync::FailTable(const Problem& problem) {
  m_report.problem = problem;
  m_allDone = false;
  Finish();
}

void CalendarSync::SaveState(bool now) {
  ++m_unsaved;
  if (!now && m_unsaved < kSaveEverySteps && m_sinceSave.isValid() && m_sinceSave.elapsed() < kSaveEveryMs) return;
  if (const QString error = WriteSyncState(m_statePath, m_syncState);
      !error.isEmpty() && m_report.notes.size() < kMaxNotes)
    m_report.notes << QStringLiteral("the sync state could not be saved: ") + error;
  m_unsaved = 0;
  m_sinceSave.start();
}

// ---- the pass -------------------------------------------------------------------------------

void CalendarSync::Discovered(const caldav::Discovery& d) {
  if (!d.status.ok()) return Fail(d.status);
  const caldav::Calendar* chosen = nullptr;
  for (const caldav::Calendar& c : d.calendars)
    if (Trailing(c.url.toString()) == Trailing(m_address.toString())) chosen = &c;
  for (const caldav::Calendar& c : d.calendars)
    if (!chosen && (c.components.isEmpty() || c.components.contains(QStringLiteral("VEVENT")))) chosen = &c;
  if (!chosen) {
    caldav::Status none;
    none.error = caldav::Error::NotFound;
    none.message = QStringLiteral("no calendar for events at %1").arg(m_address.toString());
    return Fail(none);
  }
  m_collection = chosen->url;
  m_tokens = !chosen->syncToken.isEmpty();
  m_report.collection = m_collection.toString();

  const SyncStateRead read = ReadSyncState(m_statePath, m_collection.toString());
  if (!read.ignored.isEmpty()) m_report.notes << QStringLiteral("a full sync: ") + read.ignored;
  m_syncState = read.state;
  if (!ReadLocals()) return;
  m_syncState = NoteLocalChanges(m_syncState, m_locals, m_now);
  m_syncState.collection = m_collection.toString();
  SaveState(true);
  m_listToken = m_tokens ? m_syncState.syncToken : QString();
  m_listing.complete = m_listToken.isEmpty();
  List();
}

bool CalendarSync::ReadLocals() {
  if (Problem place = CalendarPlaceProblem(m_store.state.AppFolder); !place.ok()) {
    FailTable(place);
    return false;
  }
  data::TableHandle table = data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kSyncAlias);
  xbase::Status st = table.status();
  if (table) {
    xbase::WorkArea& wa = *table;
    st = wa.SetOrder(0);
    if (st.ok()) st = wa.GoTop();
    QHash<QByteArray, const SyncEntry*> synced;
    for (const SyncEntry& e : m_syncState.entries) synced.insert(e.recordId, &e);
    for (; st.ok() && !wa.Eof(); st = wa.Skip(1)) {
      std::string id;
      if (!wa.GetString("REC_NO", &id).ok() || QByteArray::fromStdString(id).trimmed().isEmpty()) continue;
      LocalView view = ViewOf(wa);
      // A reminder synced before events were kept: its alarm as it was when the two last agreed
      // counts as the user's from now on, so that announcing it changes nothing on the server.
      if (const SyncEntry* e = synced.value(view.recordId);
          e && !view.kept && e->localFingerprint == view.fingerprint) {
        KeptEvent k;
        k.uid = view.uid;
        k.hasUserAlarm = view.stored.alarmDate.isValid();
        k.userAlarmDate = view.stored.alarmDate;
        k.userAlarmTime = view.stored.alarmTime;
        if (m_kept.Put(view.recordId, k).ok()) view.kept = k;
      }
      LocalItem item;
      item.recordId = view.recordId;
      item.uid = view.uid;
      item.fingerprint = view.fingerprint;
      if (view.kept) item.changedAt = view.kept->savedAt;
      m_recnos.insert(item.recordId, wa.RecNo());
      m_locals.push_back(std::move(item));
    }
  }
  table.Close().IgnoreError();  // only read
  if (!st.ok()) {
    FailTable(ProblemOf(st));
    return false;
  }
  return true;
}

void CalendarSync::List() {
  auto listed = [this](const caldav::Changes& c) { Then([this, c] { Listed(c); }); };
  if (m_tokens)
    m_server->syncCollection(m_collection, m_listToken, listed);
  else
    m_server->listMembers(m_collection, listed);
}

void CalendarSync::Listed(const caldav::Changes& c) {
  if (c.status.error == caldav::Error::TokenInvalid && !m_listToken.isEmpty() && !m_retriedToken) {
    // The server forgot the token: everything is listed again, and matched with what is known.
    m_retriedToken = true;
    m_listToken.clear();
    m_listing = RemoteListing();
    m_listing.complete = true;
    m_listRounds = 0;
    return List();
  }
  if (!c.status.ok()) return Fail(c.status);
  m_listing.ok = true;
  for (const caldav::Member& m : c.changed) m_listing.items.push_back(RemoteItem{m.href.toString(), m.etag});
  for (const QUrl& gone : c.removed) m_listing.removed << gone.toString();
  m_listing.syncToken = c.syncToken;
  if (c.truncated && m_tokens && ++m_listRounds < kMaxListRounds && !c.syncToken.isEmpty()) {
    m_listToken = c.syncToken;
    return List();
  }
  FetchChanged();
}

void CalendarSync::FetchChanged() {
  const QStringList hrefs = HrefsToFetch(m_syncState, m_listing);
  if (hrefs.isEmpty()) return Fetched(caldav::Objects());
  QList<QUrl> urls;
  for (const QString& h : hrefs) urls << QUrl(h);
  m_server->fetch(m_collection, urls, [this](const caldav::Objects& o) { Then([this, o] { Fetched(o); }); });
}

std::vector<CalendarSync::Parsed> CalendarSync::ParseFetched(const caldav::Objects& objects,
                                                             const ImportOptions& options, const QDateTime& now,
                                                             const QString& timeFormat, const std::atomic<bool>& stop) {
  std::vector<Parsed> out;
  icalendar::ReadOptions ro;
  ro.now = now.toUTC();
  ro.maxComponents = kMaxComponentsPerResource;
  for (const caldav::CalendarObject& o : objects.objects) {
    if (stop.load()) break;
    Parsed p;
    p.href = o.href.toString();
    p.etag = o.etag;
    Incoming& in = p.in;
    in.data = o.data;
    const icalendar::ReadResult read = icalendar::Read(o.data, ro);
    const icalendar::ReadEvent* e = read.error.isEmpty() ? MainComponent(read) : nullptr;
    if (e) {
      in.uid = e->uid;
      p.modified = e->modified;
      in.gone = e->cancelled || e->done;
      if (!e->refused.isEmpty()) {
        in.why = e->refused;
      } else if (in.gone) {
        in.why = e->done ? QStringLiteral("done") : QStringLiteral("cancelled");
      } else if (e->uid.isEmpty()) {
        in.why = QStringLiteral("it has no UID");
      } else {
        in.event = Standing(read, *e);
        in.past = in.event->past;
        if (in.past)
          in.why = e->series.isEmpty() ? QStringLiteral("it is past") : QStringLiteral("every occurrence is past");
      }
    } else {
      in.why = read.error.isEmpty() ? QStringLiteral("no event or to-do in it") : read.error;
    }
    if (in.event && !in.past) {
      in.input = ReminderFromEvent(*in.event, options, now, nullptr, true);
      in.record = ComposeReminderRecord(*in.input, timeFormat);
      ReminderRecord record = *in.record;
      // An alarm gone by is one dealt with: as a reminder here keeps none once it has gone off.
      if (AlarmMoment(record.alarmDate, record.alarmTime) < now) record.alarmDate = QDate();
      p.fingerprint = ReminderFingerprint(record, in.input->series);
    } else {
      // Nothing to remind of: a fingerprint no reminder has, so that a change to it still shows.
      p.fingerprint =
          QCryptographicHash::hash("not a reminder\n" + in.why.toUtf8() + '\n' + o.data, QCryptographicHash::Sha256);
    }
    out.push_back(std::move(p));
  }
  return out;
}

void CalendarSync::Fetched(const caldav::Objects& objects) {
  if (!objects.status.ok()) return Fail(objects.status);
  for (const QUrl& big : objects.oversized)
    if (m_report.notes.size() < kMaxNotes) m_report.notes << big.toString() + QStringLiteral(" is too large to read");
  const QString timeFormat = m_store.alarms.options().timeFormat;
  if (!parseOwner || objects.objects.isEmpty()) {
    const std::atomic<bool> never{false};
    return TakeParsed(ParseFetched(objects, options, m_now, timeFormat, never));
  }
  // Calendar text from outside is read on a thread of its own: the reminders go on meanwhile.
  m_parsing = std::make_unique<OffThread<std::vector<Parsed>>>(
      parseOwner,
      [objects, options = options, now = m_now, timeFormat](const std::atomic<bool>& stop) {
        return ParseFetched(objects, options, now, timeFormat, stop);
      },
      [this](std::vector<Parsed> parsed) {
        Then([this, parsed = std::move(parsed)]() mutable { TakeParsed(std::move(parsed)); });
      });
}

void CalendarSync::TakeParsed(std::vector<Parsed> parsed) {
  QHash<QString, RemoteItem*> byHref;
  for (RemoteItem& r : m_listing.items) byHref.insert(r.href, &r);
  for (Parsed& p : parsed) {
    RemoteItem* r = byHref.value(p.href);
    if (!r) continue;
    r->fetched = true;
    r->etag = p.etag.isEmpty() ? r->etag : p.etag;
    r->uid = p.in.uid;
    r->modified = p.modified;
    r->fingerprint = p.fingerprint;
    m_fetched[r->href] = std::move(p.in);
  }
  m_plan = PlanSync(m_syncState, m_locals, m_listing, m_now);
  for (const QString& note : m_plan.notes)
    if (m_report.notes.size() < kMaxNotes) m_report.notes << note;
  m_next = 0;
  Act();
}

std::optional<EventInput> CalendarSync::ReminderOf(const QString& href, const EventInput* before, bool keepUid,
                                                   bool pending) const {
  const auto it = m_fetched.find(href);
  if (it == m_fetched.end() || !it->second.event || (it->second.past && !pending)) return std::nullopt;
  if (!before && keepUid && it->second.input) return it->second.input;  // read in already
  return ReminderFromEvent(*it->second.event, options, m_now, before, keepUid);
}

void CalendarSync::Act() {
  if (m_next >= m_plan.actions.size()) return Finish();
  const SyncAction& a = m_plan.actions[m_next];
  switch (a.kind) {
    case SyncActionKind::PullCreate:
    case SyncActionKind::PullUpdate: return PullRun();
    case SyncActionKind::PullDelete: return PullDelete(a);
    case SyncActionKind::PushCreate: return PushCreate(a);
    case SyncActionKind::PushUpdate: return PushUpdate(a);
    case SyncActionKind::PushDelete: return PushDelete(a);
    case SyncActionKind::Conflict: return ResolveConflict(a);
    case SyncActionKind::Adopt:
    case SyncActionKind::Forget: {
      SyncOutcome done;
      done.result = SyncResult::Done;
      return Acted(a, done);
    }
  }
}

void CalendarSync::Acted(const SyncAction& action, const SyncOutcome& outcome) {
  Record(action, outcome);
  SaveState(false);
  ++m_next;
  Then([this] { Act(); });
}

void CalendarSync::Record(const SyncAction& action, const SyncOutcome& outcome) {
  m_syncState = ApplyOutcome(m_syncState, action, outcome);
  if (outcome.result != SyncResult::Done) {
    m_allDone = false;
    ++m_report.left;
    if (m_report.notes.size() < kMaxNotes)
      m_report.notes << QStringLiteral("%1 of %2 left for the next sync%3")
                            .arg(SyncActionName(action.kind), action.uid,
                                 outcome.result == SyncResult::PreconditionFailed
                                     ? QStringLiteral(": it changed meanwhile")
                                     : QString());
  }
}

// A step that failed at the server: the pass ends when the server cannot be worked with any more.
void CalendarSync::ServerFailed(const SyncAction& a, const caldav::Status& status) {
  SyncOutcome o;
  o.result = status.error == caldav::Error::Conflict ? SyncResult::PreconditionFailed : SyncResult::Failed;
  const bool puts = a.kind == SyncActionKind::PushUpdate || (a.kind == SyncActionKind::Conflict && a.localWins);
  if (o.result == SyncResult::PreconditionFailed && puts && !m_decidedAgain.contains(a.href)) return DecideAgain(a);
  if (EndsThePass(status)) {
    m_syncState = ApplyOutcome(m_syncState, a, o);
    ++m_report.left;
    return Fail(status);
  }
  if (!status.ok() && o.result == SyncResult::Failed && m_report.notes.size() < kMaxNotes)
    m_report.notes << QStringLiteral("%1 of %2: %3").arg(SyncActionName(a.kind), a.uid, status.message);
  Acted(a, o);
}

void CalendarSync::DecideAgain(const SyncAction& a) {
  m_decidedAgain.insert(a.href);
  m_server->fetch(m_collection, {QUrl(a.href)}, [this, a](const caldav::Objects& o) {
    Then([this, a, o] {
      if (!o.status.ok()) return ServerFailed(a, o.status);
      caldav::Objects one;
      for (const caldav::CalendarObject& obj : o.objects)
        if (obj.href == QUrl(a.href) || obj.href.path().endsWith(QUrl(a.href).path())) one.objects << obj;
      const std::optional<qint64> recno = FindLocal(a.recordId);
      // Gone from the server or from here meanwhile: the next sync plans it from what it finds.
      if (one.objects.isEmpty() || !recno) return Acted(a, Outcome(SyncResult::PreconditionFailed));
      const std::atomic<bool> never{false};
      // One resource, bounded as every fetched one is (kMaxComponentsPerResource).
      std::vector<Parsed> parsed = ParseFetched(one, options, m_now, m_store.alarms.options().timeFormat, never);
      Parsed& p = parsed.front();
      RemoteListing listing;
      listing.ok = true;
      listing.complete = false;  // the other members are as the state remembers them
      listing.items.push_back(RemoteItem{a.href, p.etag, true, p.in.uid, p.fingerprint, p.modified});
      m_fetched[a.href] = std::move(p.in);
      // The pair alone, as the plan sees it now.
      SyncState pair = m_syncState;
      std::erase_if(pair.entries, [&](const SyncEntry& e) { return e.recordId != a.recordId && e.href != a.href; });
      std::vector<LocalItem> local;
      for (const LocalItem& l : m_locals)
        if (l.recordId == a.recordId) local.push_back(l);
      if (local.empty()) return Acted(a, Outcome(SyncResult::PreconditionFailed));
      local.front().fingerprint = FingerprintAt(*recno);
      const SyncPlan again = PlanSync(pair, local, listing, m_now);
      const auto step = std::find_if(again.actions.begin(), again.actions.end(),
                                     [&](const SyncAction& s) { return s.recordId == a.recordId || s.href == a.href; });
      if (step == again.actions.end()) return Acted(a, Outcome(SyncResult::PreconditionFailed));
      if (m_report.notes.size() < kMaxNotes)
        m_report.notes
            << QStringLiteral("%1 changed on the server meanwhile: %2 instead").arg(a.uid, SyncActionName(step->kind));
      m_plan.actions[m_next] = *step;
      Act();
    });
  });
}

// ---- the table's side -----------------------------------------------------------------------

std::optional<qint64> CalendarSync::FindLocal(const QByteArray& recordId) {
  data::TableHandle table = data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kSyncAlias);
  if (!table) return std::nullopt;
  xbase::WorkArea& wa = *table;
  const auto holds = [&] {
    std::string id;
    return !wa.Deleted() && wa.GetString("REC_NO", &id).ok() && QByteArray::fromStdString(id) == recordId;
  };
  std::optional<qint64> found;
  const qint64 known = m_recnos.value(recordId, 0);
  if (known > 0 && known <= wa.RecCount() && wa.Go(static_cast<uint32_t>(known)).ok() && holds()) {
    found = known;
  } else {
    // The table was packed meanwhile: the record is looked for.
    xbase::Status st = wa.SetOrder(0);
    if (st.ok()) st = wa.GoTop();
    for (; st.ok() && !wa.Eof() && !found; st = wa.Skip(1))
      if (holds()) found = wa.RecNo();
    if (found) m_recnos.insert(recordId, *found);
  }
  return found;
}

template <typename Read>
std::optional<std::invoke_result_t<Read, xbase::WorkArea&>> CalendarSync::AtRecord(qint64 recno, Read read) {
  std::optional<std::invoke_result_t<Read, xbase::WorkArea&>> result;
  if (data::TableHandle wa = data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kSyncAlias)) {
    if (recno > 0 && recno <= wa->RecCount() && wa->Go(static_cast<uint32_t>(recno)).ok() && !wa->Deleted())
      result = read(*wa);
  }
  return result;
}

CalendarSync::LocalView CalendarSync::ViewOf(xbase::WorkArea& wa) const {
  LocalView v;
  std::string id;
  if (wa.GetString("REC_NO", &id).ok()) v.recordId = QByteArray::fromStdString(id);
  v.kept = m_kept.Get(v.recordId);
  v.uid = v.kept && !v.kept->uid.isEmpty() ? v.kept->uid : RecordUid(id);
  v.stored = ComposeReminderRecord(StoredReminder(wa, v.kept), m_store.alarms.options().timeFormat);
  v.compared = ComparedRecord(v.stored, v.kept);
  v.fingerprint = ReminderFingerprint(v.compared, v.kept ? v.kept->series : QStringList());
  return v;
}

QByteArray CalendarSync::FingerprintAt(qint64 recno) {
  return AtRecord(recno, [this](xbase::WorkArea& wa) { return ViewOf(wa).fingerprint; }).value_or(QByteArray());
}

std::optional<CalendarSync::Outgoing> CalendarSync::Compose(qint64 recno) {
  return AtRecord(recno, [this](xbase::WorkArea& wa) {
    Outgoing out;
    const LocalView view = ViewOf(wa);
    const ExportResult written = ExportReminder(wa, m_now, view.kept);
    if (written.error.isEmpty() && written.problem.ok()) out.data = written.text;
    out.uid = view.uid;
    out.recordId = view.recordId;
    out.fingerprint = view.fingerprint;
    return out;
  });
}

std::optional<CalendarSync::Outgoing> CalendarSync::Patched(qint64 recno, const QByteArray& serverText) {
  if (serverText.isEmpty()) return Compose(recno);
  const std::optional<LocalView> view = AtRecord(recno, [this](xbase::WorkArea& wa) { return ViewOf(wa); });
  if (!view) return std::nullopt;
  // What the two last agreed on: as kept, else as the server's text reads in.
  const bool known = view->kept && view->kept->hasSynced;
  ReminderRecord base;
  QStringList series = view->kept ? view->kept->series : QStringList();
  if (known) {
    base = view->kept->synced;
  } else {
    icalendar::ReadOptions ro;
    ro.now = m_now.toUTC();
    ro.maxComponents = kMaxComponentsPerResource;
    const icalendar::ReadResult read = icalendar::Read(serverText, ro);
    const icalendar::ReadEvent* e = read.error.isEmpty() ? MainComponent(read) : nullptr;
    if (!e || !e->refused.isEmpty()) return Compose(recno);
    const EventInput input = ReminderFromEvent(Standing(read, *e), options, m_now, nullptr, true);
    base = ComposeReminderRecord(input, m_store.alarms.options().timeFormat);
    if (series.isEmpty()) series = input.series;
  }
  Outgoing out;
  out.uid = view->uid;
  out.recordId = view->recordId;
  out.fingerprint = view->fingerprint;
  out.data = PatchedResource(serverText, base, view->compared, series, known && view->kept->hasUserAlarm, m_now);
  if (out.data.isEmpty()) return Compose(recno);
  out.unchanged = out.data == serverText;
  return out;
}

std::optional<CalendarSync::LocalView> CalendarSync::KeepEvent(qint64 recno, const QByteArray& resource,
                                                               const QString& uid, bool pulled,
                                                               const QStringList* series) {
  std::optional<LocalView> view = AtRecord(recno, [this](xbase::WorkArea& wa) { return ViewOf(wa); });
  if (!view) return view;
  KeptEvent k;
  k.uid = uid;
  k.series = series ? *series : view->kept ? view->kept->series : QStringList();
  k.resource = resource;
  k.hasSynced = true;
  k.synced = pulled ? view->stored : view->compared;
  k.hasUserAlarm = k.synced.alarmDate.isValid();
  k.userAlarmDate = k.synced.alarmDate;
  k.userAlarmTime = k.synced.alarmTime;
  k.savedAt = pulled ? m_now : view->kept ? view->kept->savedAt : QDateTime();
  if (const Problem p = m_kept.Put(view->recordId, k); !p.ok()) {
    if (m_report.notes.size() < kMaxNotes)
      m_report.notes << QStringLiteral("the calendar event of \"%1\" could not be kept: %2")
                            .arg(view->stored.activityText.trimmed(), Describe(p).text);
    return view;
  }
  // As ViewOf reads it from now on.
  view->kept = k;
  if (!k.uid.isEmpty()) view->uid = k.uid;
  view->compared = ComparedRecord(view->stored, view->kept);
  view->fingerprint = ReminderFingerprint(view->compared, k.series);
  return view;
}

void CalendarSync::WithServerText(const SyncAction& a, std::function<void(std::optional<QByteArray>, bool)> done) {
  if (const auto it = m_fetched.find(a.href); it != m_fetched.end() && !it->second.data.isEmpty())
    return done(it->second.data, false);
  if (const std::optional<KeptEvent> kept = m_kept.Get(a.recordId); kept && !kept->resource.isEmpty())
    return done(kept->resource, false);
  // Not kept (synced before events were kept, or too large to keep): asked for.
  m_server->fetch(m_collection, {QUrl(a.href)}, [this, a, done](const caldav::Objects& o) {
    Then([this, a, done, o] {
      if (!o.status.ok()) return ServerFailed(a, o.status);
      for (const caldav::CalendarObject& obj : o.objects) {
        if (obj.href != QUrl(a.href) && !obj.href.path().endsWith(QUrl(a.href).path())) continue;
        const bool stale = !a.etag.isEmpty() && !obj.etag.isEmpty() && obj.etag != a.etag;
        return done(obj.data, stale);
      }
      done(std::nullopt, false);
    });
  });
}

std::optional<EventInput> CalendarSync::StoredAt(qint64 recno) {
  return AtRecord(recno, [](xbase::WorkArea& wa) { return StoredReminder(wa); });
}

std::optional<qint64> CalendarSync::StoreReminder(const EventInput& in, std::optional<qint64> editing, bool* lasting) {
  EventSaver saver(m_store.state, m_store.alarms.options(), m_store.clock, m_store.engine);
  const SaveResult saved = saver.SaveEvent(in, editing);
  if (saved.saved) return saved.recno;
  // A value the table refuses is refused every time; a busy or broken table may do better later.
  *lasting = saved.refused != SaveField::None || saved.problem.kind == ProblemKind::CharactersNotSupported;
  if (m_report.notes.size() < kMaxNotes)
    m_report.notes << QStringLiteral("\"%1\" could not be stored: %2").arg(in.activity, Describe(saved.problem).text);
  return std::nullopt;
}

bool CalendarSync::DeleteLocal(qint64 recno) {
  bool deleted = false;
  if (data::TableHandle table = data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kSyncAlias)) {
    // What failed after the deletion was stored undoes nothing: the reminder is gone all the same.
    const Problem after = m_store.alarms.DeleteReminder(table.get(), recno, &deleted);
    if (deleted && !after.ok() && m_report.notes.size() < kMaxNotes) m_report.notes << Describe(after).text;
  }
  return deleted;
}

EventInput CalendarSync::ConflictCopy(EventInput in) const {
  in.activity = ConflictingCopyText(in.activity);
  in.uid.clear();  // a reminder of its own, under its own UID
  return in;
}

// ---- the steps ------------------------------------------------------------------------------

CalendarSync::Pull CalendarSync::PreparePull(const SyncAction& a, std::vector<EventWrite>* writes) {
  Pull p{a, std::nullopt, std::nullopt, std::nullopt, 0};
  const auto it = m_fetched.find(a.href);
  const QString why = it != m_fetched.end() ? it->second.why : QString();
  if (a.kind == SyncActionKind::PullCreate) {
    if (it == m_fetched.end() || !it->second.input) {
      // Nothing to remind of: not stored and not remembered; it is looked at again once it changes.
      if (it != m_fetched.end() && m_report.notes.size() < kMaxNotes)
        m_report.notes << QStringLiteral("%1 not taken: %2").arg(a.uid, why);
      p.outcome = Outcome(SyncResult::Done);
      return p;
    }
    // Read in and composed once, at the fetch.
    p.write = writes->size();
    writes->push_back(EventWrite{*it->second.input, std::nullopt, {}, it->second.record});
    return p;
  }
  const std::optional<qint64> recno = FindLocal(a.recordId);
  if (!recno) {
    p.outcome = Outcome(SyncResult::Failed);
    return p;
  }
  if (FingerprintAt(*recno) != a.localFingerprint) {
    p.outcome = Outcome(SyncResult::PreconditionFailed);
    return p;
  }
  if (it != m_fetched.end() && it->second.gone) {
    // Cancelled or done on the server: nothing is left to remind of here either.
    if (!DeleteLocal(*recno)) {
      p.outcome = Outcome(SyncResult::Failed);
      return p;
    }
    ++m_report.pulledDeleted;
    p.action.kind = SyncActionKind::PullDelete;
    p.outcome = Outcome(SyncResult::Done);
    return p;
  }
  const std::optional<EventInput> before = StoredAt(*recno);
  // A reminder still waiting here (announced, and repeated until dealt with) takes the change
  // even when its event is past: it is what is being said.
  const std::optional<EventInput> in =
      before ? ReminderOf(a.href, &*before, a.uid != RecordUid(a.recordId.toStdString()), before->remindDate.isValid())
             : std::nullopt;
  if (!in) {
    // Past or unreadable now: the reminder stays as it is, and the two count as agreed.
    if (it != m_fetched.end() && m_report.notes.size() < kMaxNotes)
      m_report.notes << QStringLiteral("%1 changed on the server but was not taken: %2").arg(a.uid, why);
    p.outcome = Outcome(SyncResult::Done);
    p.outcome->item = SyncedItem{a.uid, a.recordId, a.href, a.etag, a.localFingerprint, a.remoteFingerprint};
    return p;
  }
  p.recno = *recno;
  p.write = writes->size();
  // Stored only while the record still holds this reminder.
  writes->push_back(EventWrite{*in, *recno, a.recordId.toStdString(), std::nullopt});
  return p;
}

void CalendarSync::PullRun() {
  constexpr size_t kMostInRun = 500;  // the table is let go between runs (the program's windows wait meanwhile)
  size_t end = m_next;
  while (end < m_plan.actions.size() && end - m_next < kMostInRun &&
         (m_plan.actions[end].kind == SyncActionKind::PullCreate ||
          m_plan.actions[end].kind == SyncActionKind::PullUpdate))
    ++end;
  std::vector<Pull> pulls;
  std::vector<EventWrite> writes;
  {
    // The run's reads share one opening of the table.
    const data::TableHandle reading = data::TableHandle::Calendar(m_store.engine, m_store.state.AppFolder, kSyncAlias);
    for (size_t i = m_next; i < end; ++i) pulls.push_back(PreparePull(m_plan.actions[i], &writes));
  }
  EventSaver saver(m_store.state, m_store.alarms.options(), m_store.clock, m_store.engine);
  const std::vector<SaveResult> saved = writes.empty() ? std::vector<SaveResult>() : saver.SaveEvents(writes);
  // The events of the reminders stored, kept in one write.
  std::vector<std::pair<QByteArray, KeptEvent>> keeping;
  for (Pull& p : pulls) {
    if (!p.write) continue;
    const SaveResult& s = saved[*p.write];
    const EventInput& in = writes[*p.write].input;
    if (!s.saved) {
      // A value the table refuses is refused every time; a busy or broken table may do better later.
      const bool lasting = s.refused != SaveField::None || s.problem.kind == ProblemKind::CharactersNotSupported;
      if (m_report.notes.size() < kMaxNotes)
        m_report.notes << QStringLiteral("\"%1\" could not be stored: %2").arg(in.activity, Describe(s.problem).text);
      p.outcome = Outcome(lasting ? SyncResult::Done : SyncResult::Failed);
      continue;
    }
    KeptEvent k;
    k.uid = p.action.uid;
    k.series = in.series;
    k.resource = m_fetched[p.action.href].data;
    k.hasSynced = true;
    k.synced = s.record;  // its alarm is the event's
    k.hasUserAlarm = k.synced.alarmDate.isValid();
    k.userAlarmDate = k.synced.alarmDate;
    k.userAlarmTime = k.synced.alarmTime;
    k.savedAt = m_now;
    p.kept = keeping.size();
    keeping.emplace_back(QByteArray::fromStdString(s.recordId), std::move(k));
  }
  const Problem kept = keeping.empty() ? Problem() : m_kept.PutMany(keeping);
  for (Pull& p : pulls) {
    if (p.kept) {
      const SaveResult& s = saved[*p.write];
      const auto& [recordId, k] = keeping[*p.kept];
      if (!p.recno) p.recno = s.recno;
      QByteArray fingerprint = ReminderFingerprint(ComparedRecord(s.record, k), k.series);
      if (!kept.ok()) {
        if (m_report.notes.size() < kMaxNotes)
          m_report.notes << QStringLiteral("the calendar event of \"%1\" could not be kept: %2")
                                .arg(s.record.activityText.trimmed(), Describe(kept).text);
        // As the reminder reads without it.
        fingerprint = FingerprintAt(p.recno);
      }
      p.outcome = Outcome(SyncResult::Done);
      p.outcome->item =
          SyncedItem{p.action.uid, recordId, p.action.href, p.action.etag, fingerprint, p.action.remoteFingerprint};
      ++(p.action.kind == SyncActionKind::PullCreate ? m_report.pulledNew : m_report.pulledChanged);
    }
    Record(p.action, *p.outcome);
  }
  // The state is saved as often as when the steps are carried out one by one.
  m_unsaved += static_cast<int>(pulls.size()) - 1;
  SaveState(false);
  m_next = end;
  Then([this] { Act(); });
}

void CalendarSync::PullDelete(const SyncAction& a) {
  const std::optional<qint64> recno = FindLocal(a.recordId);
  if (!recno) return Acted(a, Outcome(SyncResult::Done));  // gone here too
  if (FingerprintAt(*recno) != a.localFingerprint) return Acted(a, Outcome(SyncResult::PreconditionFailed));
  if (!DeleteLocal(*recno)) return Acted(a, Outcome(SyncResult::Failed));
  ++m_report.pulledDeleted;
  Acted(a, Outcome(SyncResult::Done));
}

void CalendarSync::PushCreate(const SyncAction& a) {
  const std::optional<qint64> recno = FindLocal(a.recordId);
  // Deleted here meanwhile: nothing to put, nothing to remember.
  if (!recno) return Acted(a, Outcome(SyncResult::Done));
  // A reminder whose event was deleted on the server goes back as that event, with what changed here.
  const std::optional<KeptEvent> kept = m_kept.Get(a.recordId);
  const std::optional<Outgoing> out = Patched(*recno, kept ? kept->resource : QByteArray());
  if (!out || out->data.isEmpty()) return Acted(a, Outcome(SyncResult::Failed));
  const QUrl href = ResourceUrl(m_collection, out->uid);
  m_server->create(href, out->data, [this, a, href, recno = *recno, out = *out](const caldav::WriteResult& w) {
    Then([this, a, href, recno, out, w] {
      if (!w.status.ok()) return ServerFailed(a, w.status);
      KeepEvent(recno, out.data, out.uid, false);
      SyncOutcome o = Outcome(SyncResult::Done);
      o.item = SyncedItem{out.uid, out.recordId,    w.href.isEmpty() ? href.toString() : w.href.toString(),
                          w.etag,  out.fingerprint, out.fingerprint};
      ++m_report.pushedNew;
      Acted(a, o);
    });
  });
}

void CalendarSync::PushUpdate(const SyncAction& a) {
  const std::optional<qint64> recno = FindLocal(a.recordId);
  if (!recno) return Acted(a, Outcome(SyncResult::Failed));  // deleted meanwhile: the next sync deletes it there
  WithServerText(a, [this, a, recno = *recno](std::optional<QByteArray> text, bool stale) {
    if (stale) {
      caldav::Status changed;
      changed.error = caldav::Error::Conflict;
      return ServerFailed(a, changed);
    }
    PutOver(a, recno, text.value_or(QByteArray()));
  });
}

void CalendarSync::PutOver(const SyncAction& a, qint64 recno, const QByteArray& serverText) {
  const std::optional<Outgoing> out = Patched(recno, serverText);
  if (!out || out->data.isEmpty()) return Acted(a, Outcome(SyncResult::Failed));
  if (out->unchanged) {
    // Nothing the server's event holds changed here: it stays as it is, untouched.
    KeepEvent(recno, out->data, out->uid, false);
    SyncOutcome o = Outcome(SyncResult::Done);
    o.item = SyncedItem{a.uid, a.recordId, a.href, a.etag, FingerprintAt(recno), a.remoteFingerprint};
    if (o.item.remoteFingerprint.isEmpty())
      for (const SyncEntry& e : m_syncState.entries)
        if (e.recordId == a.recordId) o.item.remoteFingerprint = e.remoteFingerprint;
    return Acted(a, o);
  }
  m_server->update(QUrl(a.href), out->data, a.etag, [this, a, recno, out = *out](const caldav::WriteResult& w) {
    Then([this, a, recno, out, w] {
      if (!w.status.ok()) return ServerFailed(a, w.status);
      KeepEvent(recno, out.data, out.uid, false);
      SyncOutcome o = Outcome(SyncResult::Done);
      o.item = SyncedItem{a.uid, a.recordId, a.href, w.etag, out.fingerprint, out.fingerprint};
      ++m_report.pushedChanged;
      Acted(a, o);
    });
  });
}

void CalendarSync::PushDelete(const SyncAction& a) {
  m_server->remove(QUrl(a.href), a.etag, [this, a](const caldav::Status& s) {
    Then([this, a, s] {
      if (!s.ok() && s.error != caldav::Error::NotFound) return ServerFailed(a, s);
      ++m_report.pushedDeleted;
      Acted(a, Outcome(SyncResult::Done));
    });
  });
}

void CalendarSync::StoreAndPushCopy(const EventInput& in, std::function<void(std::optional<SyncedItem>)> done) {
  bool lasting = false;
  EventInput copy = ConflictCopy(in);
  std::optional<qint64> recno = StoreReminder(copy, std::nullopt, &lasting);
  if (!recno) {
    // The activity with its mark may not fit: the mark goes into the memo instead.
    copy = in;
    copy.uid.clear();
    copy.memo = ConflictingCopyText(QString()).trimmed() + QStringLiteral("\n") + copy.memo;
    recno = StoreReminder(copy, std::nullopt, &lasting);
  }
  if (!recno) {
    if (m_report.notes.size() < kMaxNotes)
      m_report.notes << QStringLiteral("the conflicting copy of \"%1\" could not be stored").arg(in.activity);
    m_allDone = false;
    return done(std::nullopt);
  }
  // The copy of a series repeats as it does, under a UID of its own.
  if (!copy.series.isEmpty())
    if (const std::optional<QByteArray> id =
            AtRecord(*recno,
                     [](xbase::WorkArea& wa) {
                       std::string rec;
                       return wa.GetString("REC_NO", &rec).ok() ? QByteArray::fromStdString(rec) : QByteArray();
                     });
        id && !id->isEmpty()) {
      KeptEvent k;
      k.series = copy.series;
      if (const Problem p = m_kept.Put(*id, k); !p.ok() && m_report.notes.size() < kMaxNotes)
        m_report.notes
            << QStringLiteral("the series of \"%1\" could not be kept: %2").arg(copy.activity, Describe(p).text);
    }
  const std::optional<Outgoing> out = Compose(*recno);
  if (!out || out->data.isEmpty()) return done(std::nullopt);
  const QUrl href = ResourceUrl(m_collection, out->uid);
  m_server->create(href, out->data, [this, href, recno = *recno, out = *out, done](const caldav::WriteResult& w) {
    Then([this, href, recno, out, w, done] {
      // Not on the server yet: the next sync finds it as a new reminder and puts it there.
      if (!w.status.ok()) return done(std::nullopt);
      KeepEvent(recno, out.data, out.uid, false);
      done(SyncedItem{out.uid, out.recordId, w.href.isEmpty() ? href.toString() : w.href.toString(), w.etag,
                      out.fingerprint, out.fingerprint});
    });
  });
}

void CalendarSync::ResolveConflict(const SyncAction& a) {
  const std::optional<qint64> recno = FindLocal(a.recordId);
  if (!recno) return Acted(a, Outcome(SyncResult::Failed));
  if (FingerprintAt(*recno) != a.localFingerprint) return Acted(a, Outcome(SyncResult::PreconditionFailed));
  const std::optional<EventInput> mine = StoredAt(*recno);
  if (!mine) return Acted(a, Outcome(SyncResult::Failed));
  // A reminder still waiting here takes the server's version even when its event is past.
  const bool pending = mine->remindDate.isValid();
  const std::optional<EventInput> theirs = ReminderOf(a.href, nullptr, false, pending);
  const auto finish = [this, a](SyncOutcome o) {
    return [this, a, o](std::optional<SyncedItem> copy) mutable {
      o.copy = std::move(copy);
      ++m_report.conflicts;
      Acted(a, o);
    };
  };
  if (a.localWins || !theirs) {
    // This side's changes go into the server's version; the server's becomes the copy.
    const auto fetched = m_fetched.find(a.href);
    const std::optional<Outgoing> out =
        Patched(*recno, fetched != m_fetched.end() ? fetched->second.data : QByteArray());
    if (!out || out->data.isEmpty()) return Acted(a, Outcome(SyncResult::Failed));
    m_server->update(QUrl(a.href), out->data, a.etag,
                     [this, a, recno = *recno, out = *out, theirs, finish](const caldav::WriteResult& w) {
                       Then([this, a, recno, out, theirs, w, finish] {
                         if (!w.status.ok()) return ServerFailed(a, w.status);
                         KeepEvent(recno, out.data, out.uid, false);
                         SyncOutcome o = Outcome(SyncResult::Done);
                         o.item = SyncedItem{a.uid, a.recordId, a.href, w.etag, out.fingerprint, out.fingerprint};
                         if (!theirs) {
                           ++m_report.conflicts;
                           return Acted(a, o);
                         }
                         StoreAndPushCopy(*theirs, finish(o));
                       });
                     });
    return;
  }
  // The server's version goes over this side's; this side's becomes the copy.
  const std::optional<EventInput> over =
      ReminderOf(a.href, &*mine, a.uid != RecordUid(a.recordId.toStdString()), pending);
  bool lasting = false;
  if (!over || !StoreReminder(*over, recno, &lasting)) return Acted(a, Outcome(SyncResult::Failed));
  KeepEvent(*recno, m_fetched[a.href].data, a.uid, true, &over->series);
  SyncOutcome o = Outcome(SyncResult::Done);
  o.item = SyncedItem{a.uid, a.recordId, a.href, a.etag, FingerprintAt(*recno), a.remoteFingerprint};
  StoreAndPushCopy(*mine, finish(o));
}

}  // namespace chimewise

#include "data/calendar.h"

#include "core/time_format.h"

#include <QDir>
#include <QFileInfo>
#include <QTime>

#include <algorithm>

namespace chimewise::data {

QString CalendarPath(const QString& appFolder) { return appFolder + "/data/CALENDAR.DBF"; }

void ApplyStartupSettings(xbase::Engine& engine) {
  engine.settings().hide_deleted = true;
  engine.settings().century = true;
  engine.settings().soft_seek = true;
}

int OpenTable(xbase::Engine& engine, const QString& path, const QString& alias, int mode, xbase::Status* why) {
  const std::string a = alias.toStdString();
  QString real = path;
  if (!QFileInfo::exists(real)) {
    // File names are not case-sensitive for the program: find "calendar.dbf" too.
    QFileInfo fi(path);
    const QStringList hits = QDir(fi.absolutePath()).entryList({fi.fileName()}, QDir::Files);
    if (hits.isEmpty()) {
      if (why) *why = xbase::Status::NotFound(path.toStdString() + ": no such table");
      return 0;
    }
    real = QDir(fi.absolutePath()).filePath(hits.first());
  }
  if (int open = engine.WorkAreaOf(a); open != 0) {
    if (why) *why = xbase::Status::OK();
    return open;
  }
  int area = 0;
  xbase::Status s = engine.Use(real.toStdString(), a,
                               mode == kModeExclusive ? xbase::OpenMode::kExclusive : xbase::OpenMode::kShared, &area);
  if (why) *why = s;
  return s.ok() ? area : 0;
}

const std::array<TagDefinition, 13>& CalendarTags() {
  static const std::array<TagDefinition, 13> kTags = {{
      {"UNIQUEID", "UNIQUEID+dtos(EVENTDATE)+str(STARTTIME,4,0)", "!DELETED().and.STATUS<>'H'"},
      {"EVNTDATE", "dtos(EVENTDATE)+str(STARTTIME,4,0)", "!DELETED()"},
      {"STRTDATE", "substr(dtos(STARTDATE),5)+str(STARTTIME,4,0)", "!DELETED()"},
      {"STATUS", "STATUS+dtos(EVENTDATE)", "!DELETED()"},
      {"ALARM", "dtos(ALARMDATE)+str(ALARMTIME,4,0)", "!DELETED().and.!EMPTY(ALARMDATE)"},
      {"CALENDAR", "USERID+substr(dtos(STARTDATE),5)+str(STARTTIME,4,0)", "!DELETED()"},
      {"OWNER", "USERID+UNIQUEID+dtos(EVENTDATE)+str(STARTTIME,4,0)", "!DELETED().and.STATUS<>'H'"},
      {"EVENTORD", "upper(EVENT)+dtos(EVENTDATE)+str(STARTTIME,4,0)", "!DELETED().and.STATUS<>'H'"},
      {"EVNTTIME", "STARTTIME", "!DELETED()"},
      {"ACTIVITY", "upper(APPT_TEXT+dtos(EVENTDATE)+str(STARTTIME,4,0))", "!DELETED()"},
      {"PUBLIC", "PUBLIC", "!DELETED().and.PUBLIC=.T..and.STATUS<>'H'"},
      {"UPDATED", "dtos(lastedit)+str(edittime,4)", "!DELETED()"},
      {"RECORDID", "rec_no", "!DELETED()"},
  }};
  return kTags;
}

xbase::Status CalendarIndexProblem(xbase::Engine& engine, const QString& tablePath) {
  xbase::Engine probe(engine.env());
  probe.settings().lock_wait_ms = engine.settings().lock_wait_ms;
  int area = 0;
  xbase::Status s = probe.Use(tablePath.toStdString(), "INDEXPROBE", xbase::OpenMode::kReadOnly, &area);
  if (!s.ok()) return s;
  xbase::WorkArea* wa = probe.Area(area);
  if (!wa->IndexStatus().ok()) return wa->IndexStatus();
  const auto tags = wa->Tags();
  const auto& want = CalendarTags();
  if (tags.size() != want.size()) {
    return xbase::Status::Corruption("index holds " + std::to_string(tags.size()) + " tags, not " +
                                     std::to_string(want.size()));
  }
  for (size_t i = 0; i < want.size(); ++i) {
    if (tags[i].name != want[i].name || tags[i].key_expr != want[i].key || tags[i].for_expr != want[i].condition) {
      return xbase::Status::Corruption("index tag " + std::to_string(i + 1) + " is " + tags[i].name + ", not " +
                                       want[i].name + " as the calendar needs");
    }
  }
  // A header that looks right says nothing of the entries: each tag is compared with the
  // records, so an entry missing, listed twice, under an old key or out of order is found
  // before the first alarm lookup trusts it.
  std::vector<std::string> report;
  return wa->CheckIndex(&report);
}

bool CalendarIndexNeedsRebuild(xbase::Engine& engine, const QString& tablePath) {
  const xbase::Status s = CalendarIndexProblem(engine, tablePath);
  return !s.ok() && !s.IsBusy();
}

xbase::Status RebuildDatabase(xbase::Engine& engine, const QString& appFolder,
                              std::optional<xbase::TableRepair>* repaired, bool* foreignIndex) {
  // A table whose changes cannot be written out is not rebuilt under them.
  XBASE_RETURN_IF_ERROR(engine.CloseAll());
  if (foreignIndex) *foreignIndex = false;
  xbase::Status why;
  int area = OpenTable(engine, CalendarPath(appFolder), kAliasAlarm, kModeExclusive, &why);
  if (area == 0) return why;
  xbase::WorkArea* wa = engine.Area(area);
  if (repaired) *repaired = wa->Repair();
  const bool foreign = wa->IndexStatus().IsNotSupported() &&
                       xbase::IsFoxProIndexFile(engine.env(), xbase::CompanionPath(engine.env(), wa->path(), "CDX"));
  // The old index is dropped first: whatever it held (foreign, damaged, extra
  // tags), the result holds exactly the thirteen tags, which come into place at
  // once. Should the process stop before, the missing index makes the next start
  // rebuild again.
  xbase::Status s = wa->DropIndex();
  if (s.ok()) s = wa->Pack();
  if (s.ok()) {
    std::vector<xbase::TagInfo> tags;
    for (const TagDefinition& t : CalendarTags()) tags.push_back({t.name, t.key, t.condition});
    s = wa->CreateIndex(tags);
  }
  xbase::Status closed = engine.CloseAll();
  if (s.ok() && foreignIndex) *foreignIndex = foreign;
  return s.ok() ? closed : s;
}

bool IndexIsForeign(xbase::Engine& engine, const QString& tablePath) {
  xbase::Engine probe(engine.env());
  probe.settings().lock_wait_ms = engine.settings().lock_wait_ms;
  int area = 0;
  const std::string path = tablePath.toStdString();
  return probe.Use(path, "INDEXPROBE", xbase::OpenMode::kReadOnly, &area).ok() &&
         probe.Area(area)->IndexStatus().IsNotSupported() &&
         xbase::IsFoxProIndexFile(engine.env(), xbase::CompanionPath(engine.env(), path, "CDX"));
}

QString KeyMinutes(int minutes) {
  QString s = QString("    ") + QString::number(minutes);
  return s.right(4);
}

QString CurrentRemindersQuery(const QDateTime& now) { return RemindersUpToQuery(WallReading(now)); }

QString RemindersUpToQuery(const QDateTime& wallReading) {
  const QString stamp = wallReading.date().toString("yyyyMMdd") + KeyMinutes(MinuteOfDay(wallReading));
  return "QkeyVal('ALARM')<='" + stamp + "' .or. QKeyVal('EVNTDATE')<='" + stamp + "'";
}

namespace {

// Windows-1252 bytes 0x80-0x9F; 0 where the code page defines no character.
constexpr char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

std::string ToTableText(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u < 0x100)) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    char byte = '?';
    for (int i = 0; i < 32; ++i) {
      if (kCp1252High[i] != 0 && kCp1252High[i] == u) byte = static_cast<char>(0x80 + i);
    }
    out.push_back(byte);
  }
  return out;
}

QString CharactersOutsideTable(const QString& text) {
  QStringList lacking;
  // A character fits when it comes back from the table as it went in (emoji and other characters
  // beyond 16 bits are taken whole, never as halves).
  for (const char32_t ucs : text.toUcs4()) {
    const QString one = QString::fromUcs4(&ucs, 1);
    if (FromTableText(ToTableText(one)) != one && !lacking.contains(one)) lacking << one;
  }
  return lacking.join(u' ');
}

QString FromTableText(const std::string& bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (char b : bytes) {
    const auto u = static_cast<unsigned char>(b);
    if (u >= 0x80 && u < 0xA0 && kCp1252High[u - 0x80] != 0)
      out.append(QChar(kCp1252High[u - 0x80]));
    else
      out.append(QChar(static_cast<char16_t>(u)));
  }
  return out;
}

std::string ToTableText(const xbase::WorkArea& area, const QString& text) {
  const std::string& page = area.CodePage();
  if (page == xbase::kWindows1252) return ToTableText(text);
  if (page == xbase::kUtf8) return text.toStdString();
  std::string out;
  xbase::EncodeText(page, text.toStdString(), &out);
  return out;
}

QString FromTableText(const xbase::WorkArea& area, const std::string& bytes) {
  const std::string& page = area.CodePage();
  if (page == xbase::kWindows1252) return FromTableText(bytes);
  return QString::fromStdString(xbase::DecodeText(page, bytes));
}

QString CharactersOutsideTable(const xbase::WorkArea& area, const QString& text) {
  const std::string& page = area.CodePage();
  if (page == xbase::kWindows1252) return CharactersOutsideTable(text);
  QStringList lacking;
  std::string bytes;
  for (const char32_t ucs : text.toUcs4()) {
    const QString one = QString::fromUcs4(&ucs, 1);
    if (!xbase::EncodeText(page, one.toStdString(), &bytes) && !lacking.contains(one)) lacking << one;
  }
  return lacking.join(u' ');
}

long long CharactersThatFit(const xbase::WorkArea& area, const QString& text, uint32_t bytes) {
  long long n = 0;
  uint32_t used = 0;
  for (const char32_t ucs : text.toUcs4()) {
    used += static_cast<uint32_t>(ToTableText(area, QString::fromUcs4(&ucs, 1)).size());
    if (used > bytes) break;
    ++n;
  }
  return n;
}

xbase::Status MakeRoomForText(xbase::Env* env, const QString& appFolder, const QStringList& texts, const TextRoom& room,
                              bool* converted) {
  if (converted) *converted = false;
  if (room.keepCodePage) return xbase::Status::OK();
  const QString path = CalendarPath(appFolder);
  const auto holdsAll = [&](const xbase::WorkArea& area) {
    return std::all_of(texts.begin(), texts.end(),
                       [&](const QString& t) { return CharactersOutsideTable(area, t).isEmpty(); });
  };
  {
    xbase::Engine look(env);
    xbase::Status why;
    const int area = OpenTable(look, path, QStringLiteral("LOOK"), kModeShared, &why);
    if (area < 1) return why;
    if (holdsAll(*look.Area(area))) return xbase::Status::OK();
  }
  xbase::Engine own(env);
  ApplyStartupSettings(own);
  xbase::Status why;
  const int area = OpenTable(own, path, QString::fromLatin1(kAliasAlarm), kModeExclusive, &why);
  if (area < 1) return why;
  xbase::WorkArea& wa = *own.Area(area);
  if (holdsAll(wa)) return xbase::Status::OK();  // converted by another user meanwhile
  const QFileInfo table(QString::fromStdString(wa.path()));
  const QString backup = table.dir().filePath(table.completeBaseName() + "_" + QString::fromStdString(wa.CodePage()) +
                                              "." + table.suffix());
  // REC_NO is the record's key, bytes of a stamp rather than text: it stays as it is, so every
  // reminder keeps its identity (kept calendar events, identifiers on calendar servers).
  XBASE_RETURN_IF_ERROR(wa.ConvertToUtf8(backup.toStdString(), nullptr, {"REC_NO"}));
  if (converted) *converted = true;
  return own.CloseAll();
}

}  // namespace chimewise::data

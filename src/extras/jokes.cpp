#include "extras/jokes.h"

#include "core/app_paths.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/speaker_port.h"
#include "core/value_reading.h"
#include "data/calendar.h"
#include "data/table_handle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <xbase/schema.h>

#include <algorithm>

namespace chimewise {

namespace {

bool isTold(const QString& kind) {
  const QString k = kind.trimmed().toUpper();
  return k == QStringLiteral("JOKE") || k == QStringLiteral("QUOTE");
}

Problem lineError(int line, const QString& what) {
  return {ProblemKind::FileFault, QStringLiteral("line %1").arg(line), what};
}

// A record's fields as the engine reads them; the first failure is returned.
xbase::Status readRecord(xbase::WorkArea& wa, JokeRecord* out) {
  std::string kind, text;
  XBASE_RETURN_IF_ERROR(wa.GetString("TYPE", &kind));
  XBASE_RETURN_IF_ERROR(wa.GetMemo("SAYWHAT", &text));
  out->kind = data::FromTableText(wa, kind).trimmed();
  out->sayWhat = data::FromTableText(wa, text);
  return xbase::Status::OK();
}

// Checks that an open table has the two fields the program reads, of the right kinds.
xbase::Status checkFields(const xbase::WorkArea& wa) {
  bool kind = false, memo = false;
  for (const xbase::FieldDef& f : wa.Fields()) {
    if (f.name == "TYPE" && f.type == 'C') kind = true;
    if (f.name == "SAYWHAT" && f.type == 'M') memo = true;
  }
  if (kind && memo) return xbase::Status::OK();
  return xbase::Status::Corruption(wa.path() +
                                   ": not a jokes table (it needs a character field TYPE and a memo "
                                   "field SAYWHAT)");
}

}  // namespace

Problem ParseJokeSource(const QString& text, std::vector<JokeRecord>* records) {
  records->clear();
  static const QRegularExpression kindPattern(QStringLiteral("^[A-Z][A-Z0-9_]*$"));
  const QStringList lines = text.split(u'\n');
  JokeRecord current;
  int kindLine = 0;  // the line of the kind of the record being read; 0 between records
  const auto finish = [&]() -> Problem {
    if (kindLine == 0) return {};
    if (current.sayWhat.isEmpty()) return lineError(kindLine, QStringLiteral("the %1 has no text").arg(current.kind));
    records->push_back(current);
    current = {};
    kindLine = 0;
    return {};
  };
  for (int i = 0; i < lines.size(); ++i) {
    const int number = i + 1;
    QString line = lines[i];
    if (line.endsWith(u'\r')) line.chop(1);
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty()) {
      if (Problem p = finish(); !p.ok()) return p;
      continue;
    }
    if (kindLine == 0) {
      if (trimmed.startsWith(u'#')) continue;
      if (!kindPattern.match(trimmed).hasMatch() || trimmed.size() > kJokeKindWidth) {
        return lineError(number, QStringLiteral("a record starts with its kind, one upper-case word of at most %1 "
                                                "letters (JOKE or QUOTE), not \"%2\"")
                                     .arg(kJokeKindWidth)
                                     .arg(trimmed));
      }
      current.kind = trimmed;
      kindLine = number;
      continue;
    }
    if (!current.sayWhat.isEmpty()) current.sayWhat += u' ';
    current.sayWhat += trimmed;
  }
  return finish();
}

xbase::Status WriteJokesTable(const QString& path, const std::vector<JokeRecord>& records) {
  const QFileInfo target(path);
  QTemporaryDir aside(target.absolutePath() + QStringLiteral("/.jokes-XXXXXX"));
  if (!aside.isValid()) return xbase::Status::IOError("cannot make a folder beside " + path.toStdString());
  const QString table = aside.filePath(target.fileName());
  const std::vector<xbase::FieldDef> fields = {{"TYPE", 'C', kJokeKindWidth}, {"SAYWHAT", 'M', 10}};
  xbase::Engine engine;
  XBASE_RETURN_IF_ERROR(xbase::CreateTable(engine.env(), table.toStdString(), fields));
  int area = 0;
  XBASE_RETURN_IF_ERROR(engine.Use(table.toStdString(), "JOKES", xbase::OpenMode::kExclusive, &area));
  xbase::WorkArea* wa = engine.Area(area);
  // Windows-1252, as other programs' jokes tables are, unless a text needs more: then UTF-8.
  const bool wider = std::any_of(records.begin(), records.end(), [](const JokeRecord& r) {
    return !data::CharactersOutsideTable(r.kind).isEmpty() || !data::CharactersOutsideTable(r.sayWhat).isEmpty();
  });
  if (wider) XBASE_RETURN_IF_ERROR(wa->ConvertToUtf8(aside.filePath(QStringLiteral("empty.dbf")).toStdString()));
  for (const JokeRecord& r : records) {
    if (r.kind.size() > kJokeKindWidth)
      return xbase::Status::InvalidArgument("the kind \"" + r.kind.toStdString() + "\" is too long");
    XBASE_RETURN_IF_ERROR(wa->AppendBlank());
    XBASE_RETURN_IF_ERROR(wa->Replace("TYPE", data::ToTableText(*wa, r.kind)));
    XBASE_RETURN_IF_ERROR(wa->ReplaceMemo("SAYWHAT", data::ToTableText(*wa, r.sayWhat)));
    XBASE_RETURN_IF_ERROR(wa->Commit());
  }
  XBASE_RETURN_IF_ERROR(engine.CloseAll());

  // The files move into place (the code page file only with a UTF-8 table); old ones under other
  // letter cases go first.
  const QString memo = QString::fromStdString(xbase::CompanionPath(engine.env(), table.toStdString(), "FPT"));
  const QString cpg = QString::fromStdString(xbase::CompanionPath(engine.env(), table.toStdString(), "CPG"));
  const QDir folder = target.absoluteDir();
  for (const QString& name : folder.entryList(QDir::Files)) {
    const QString base = target.completeBaseName();
    for (const char* suffix : {".dbf", ".fpt", ".cpg"})
      if (name.compare(base + QLatin1String(suffix), Qt::CaseInsensitive) == 0) QFile::remove(folder.filePath(name));
  }
  QStringList moving = {table, memo};
  if (QFileInfo::exists(cpg)) moving << cpg;
  for (const QString& from : moving) {
    const QString to = folder.filePath(QFileInfo(from).fileName());
    if (!QFile::rename(from, to)) return xbase::Status::IOError("cannot move the new table to " + to.toStdString());
  }
  return xbase::Status::OK();
}

xbase::Status ReadJokesTable(const QString& path, std::vector<JokeRecord>* records) {
  records->clear();
  xbase::Engine engine;
  engine.settings().hide_deleted = false;
  int area = 0;
  XBASE_RETURN_IF_ERROR(engine.Use(path.toStdString(), "JOKES", xbase::OpenMode::kReadOnly, &area));
  xbase::WorkArea* wa = engine.Area(area);
  XBASE_RETURN_IF_ERROR(checkFields(*wa));
  const uint32_t count = wa->RecCount();
  for (uint32_t r = 1; r <= count; ++r) {
    XBASE_RETURN_IF_ERROR(wa->Go(r));
    JokeRecord rec;
    XBASE_RETURN_IF_ERROR(readRecord(*wa, &rec));
    records->push_back(rec);
  }
  return engine.CloseAll();
}

QString FindJokesTable(const QString& appFolder, const QString& tableName) {
  if (appFolder.isEmpty() || tableName.isEmpty()) return {};
  const std::optional<QString> found = FindPathNoCase(appFolder, tableName + QStringLiteral(".dbf"));
  return found && QFileInfo(*found).isFile() ? *found : QString();
}

JokeOutcome TellJokeOrQuote(xbase::Engine& engine, SettingsStore& settings, SpeakerPort& speaker,
                            const QString& appFolder, const QString& tableName) {
  JokeOutcome out;
  const QString path = FindJokesTable(appFolder, tableName);
  if (path.isEmpty()) return out;
  const double stored = LeadingNumber(settings.read(tableName, settings::NextRecKey, settings::NextRecDefault));
  std::int64_t next = RoundToInt32(stored);

  // What an earlier run left open is read afresh.
  data::TableHandle wa = data::TableHandle::Afresh(engine, path, tableName, data::kModeShared);
  const auto fail = [&](const xbase::Status& s) {
    out.problem = {ProblemKind::Engine,
                   {},
                   QStringLiteral("reading the jokes table %1: %2").arg(path, QString::fromStdString(s.ToString())),
                   static_cast<int>(s.kind())};
    return out;
  };
  if (!wa) {
    // The file was there a moment ago; gone now is the same as missing.
    if (wa.status().IsNotFound() && FindJokesTable(appFolder, tableName).isEmpty()) return out;
    return fail(wa.status());
  }
  if (xbase::Status s = checkFields(*wa); !s.ok()) return fail(s);
  if (xbase::Status s = wa->SetOrder(0); !s.ok()) return fail(s);
  const std::int64_t count = wa->RecCount();
  if (count < 1) return out;
  if (next > count || next < 1) next = 1;
  if (xbase::Status s = wa->Go(static_cast<uint32_t>(next)); !s.ok()) return fail(s);
  JokeRecord rec;
  for (;;) {
    if (wa->Eof()) break;
    std::string kind;
    if (xbase::Status s = wa->GetString("TYPE", &kind); !s.ok()) return fail(s);
    // A deleted record is passed over like one of another kind: it was taken out of the collection.
    if (!wa->Deleted() && isTold(data::FromTableText(*wa, kind))) break;
    if (xbase::Status s = wa->Skip(1); !s.ok()) return fail(s);
  }
  std::int64_t recno = wa->RecNo();
  if (recno > count || recno < 1) recno = 1;
  if (xbase::Status s = wa->Go(static_cast<uint32_t>(recno)); !s.ok()) return fail(s);
  if (wa->Deleted()) {
    // A wrap to a deleted first record goes on to the first one left (the engine hides deleted
    // records from GoTop); a table of deleted records only has nothing to tell.
    if (xbase::Status s = wa->GoTop(); !s.ok()) return fail(s);
    if (wa->Eof() || wa->Deleted()) return out;
    recno = wa->RecNo();
  }
  const auto goOnAfter = [&](std::int64_t r) {
    if (!settings.write(tableName, settings::NextRecKey, QString::number(r + 1)))
      out.settingsError = settings.lastError();
  };
  if (xbase::Status s = readRecord(*wa, &rec); !s.ok()) {
    // Only this record is unreadable: the next request goes on with the one after it, rather than
    // stopping at the same damage for good.
    fail(s.WithContext("record " + std::to_string(recno)));
    goOnAfter(recno);
    return out;
  }
  wa.Close().IgnoreError();  // only read

  speaker.SayText(rec.sayWhat);
  out.told = true;
  out.record = static_cast<std::uint32_t>(recno);
  goOnAfter(recno);
  return out;
}

}  // namespace chimewise

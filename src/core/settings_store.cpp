#include "core/settings_store.h"

#include "core/settings_keys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <sys/stat.h>

namespace chimewise {

namespace {

bool sameName(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString escapeName(const QString& name) {
  QString out;
  for (QChar c : name) {
    if (c == u'\\' || c == u'=' || c == u']') out += u'\\';
    if (c == u'\n') { out += QStringLiteral("\\n"); continue; }
    if (c == u'\r') { out += QStringLiteral("\\r"); continue; }
    out += c;
  }
  return out;
}

// Index of the first unescaped occurrence of ch, or -1.
int findUnescaped(const QString& s, QChar ch) {
  for (int i = 0; i < s.size(); ++i) {
    if (s.at(i) == u'\\') { ++i; continue; }
    if (s.at(i) == ch) return i;
  }
  return -1;
}

}  // namespace

SettingsStore::SettingsStore(QString filePath) : m_path(std::move(filePath)) {}

QString SettingsStore::escapeValue(const QString& value) {
  QString out;
  out.reserve(value.size() + 4);
  for (int i = 0; i < value.size(); ++i) {
    const QChar c = value.at(i);
    if (c == u'\\') out += QStringLiteral("\\\\");
    else if (c == u'\n') out += QStringLiteral("\\n");
    else if (c == u'\r') out += QStringLiteral("\\r");
    else if (c == u'\t') out += QStringLiteral("\\t");
    else if (c == u' ' && (i == 0 || i == value.size() - 1)) out += QStringLiteral("\\s");
    else out += c;
  }
  return out;
}

QString SettingsStore::unescape(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c != u'\\' || i + 1 == text.size()) { out += c; continue; }
    const QChar e = text.at(++i);
    switch (e.unicode()) {
      case 'n': out += u'\n'; break;
      case 'r': out += u'\r'; break;
      case 't': out += u'\t'; break;
      case 's': out += u' '; break;
      case '\\': case '=': case ']': out += e; break;
      // Anything else was not written by us: a hand-edited value keeps its backslash (speech
      // tags such as "\pl=Wave\" are typed that way).
      default: out += u'\\'; out += e; break;
    }
  }
  return out;
}

std::vector<SettingsStore::Line> SettingsStore::parse(const QByteArray& bytes) {
  std::vector<Line> lines;
  const QString text = QString::fromUtf8(bytes);
  const QStringList rows = text.split(u'\n');
  for (int r = 0; r < rows.size(); ++r) {
    QString row = rows.at(r);
    if (row.endsWith(u'\r')) row.chop(1);
    if (r == rows.size() - 1 && row.isEmpty()) break;  // the final newline
    const QString t = row.trimmed();
    Line line;
    if (t.startsWith(u'[')) {
      const int close = findUnescaped(t, u']');
      if (close > 0) {
        line.kind = Line::Section;
        line.name = unescape(t.mid(1, close - 1));
        lines.push_back(line);
        continue;
      }
    }
    const int eq = findUnescaped(row, u'=');
    if (eq > 0 && !t.startsWith(u';') && !t.startsWith(u'#')) {
      line.kind = Line::Entry;
      line.name = unescape(row.left(eq).trimmed());
      line.value = unescape(row.mid(eq + 1));
      lines.push_back(line);
      continue;
    }
    line.kind = Line::Raw;
    line.value = row;
    lines.push_back(line);
  }
  return lines;
}

QByteArray SettingsStore::serialize(const std::vector<Line>& lines) {
  QString out;
  for (const Line& l : lines) {
    switch (l.kind) {
      case Line::Section: out += u'[' + escapeName(l.name) + QStringLiteral("]\n"); break;
      case Line::Entry: out += escapeName(l.name) + u'=' + escapeValue(l.value) + u'\n'; break;
      case Line::Raw: out += l.value + u'\n'; break;
    }
  }
  return out.toUtf8();
}

int SettingsStore::findEntry(const std::vector<Line>& lines, const QString& section, const QString& key) {
  bool inSection = false;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    const Line& l = lines[static_cast<size_t>(i)];
    if (l.kind == Line::Section) inSection = sameName(l.name, section);
    else if (inSection && l.kind == Line::Entry && sameName(l.name, key)) return i;
  }
  return -1;
}

SettingsStore::FileStamp SettingsStore::stamp() const {
  struct stat st {};
  const QByteArray p = QFile::encodeName(m_path);
  if (::stat(p.constData(), &st) != 0) return {};
  FileStamp s;
  s.size = st.st_size;
  s.mtimeNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  s.inode = st.st_ino;
  return s;
}

void SettingsStore::refresh() const {
  const FileStamp now = stamp();
  if (m_loaded && now == m_stamp) return;
  m_stamp = now;
  m_loaded = true;
  m_lines.clear();
  QFile f(m_path);
  if (now.size < 0 || !QFileInfo(m_path).isFile() || !f.open(QIODevice::ReadOnly)) return;
  m_lines = parse(f.readAll());
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultText) const {
  refresh();
  const int i = findEntry(m_lines, section, key);
  return i < 0 ? defaultText : m_lines[static_cast<size_t>(i)].value;
}

QString SettingsStore::read(const SettingKey& key) const {
  return read(QString::fromUtf8(key.section), QString::fromUtf8(key.key), QString::fromUtf8(key.defaultText));
}

QString SettingsStore::read(const SettingKey& key, const QString& readerDefault) const {
  return read(QString::fromUtf8(key.section), QString::fromUtf8(key.key), readerDefault);
}

bool SettingsStore::contains(const QString& section, const QString& key) const {
  refresh();
  return findEntry(m_lines, section, key) >= 0;
}

bool SettingsStore::createIfMissing() {
  if (QFileInfo::exists(m_path)) return true;
  QDir().mkpath(QFileInfo(m_path).absolutePath());
  QFile f(m_path);
  // NewOnly: never truncate a file another process created meanwhile.
  if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return QFileInfo::exists(m_path);
  return true;
}

bool SettingsStore::write(const SettingKey& key, const QString& value) {
  return write(QString::fromUtf8(key.section), QString::fromUtf8(key.key), value);
}

bool SettingsStore::write(const QString& section, const QString& key, const QString& value) {
  m_lastError.clear();
  const QFileInfo info(m_path);
  if (!QDir().mkpath(info.absolutePath())) {
    m_lastError = QStringLiteral("Cannot create the folder %1").arg(info.absolutePath());
    return false;
  }
  // Another process (the command-line tool, a second start) may write too: serialise writers
  // and merge with what is on disk now.
  QLockFile lock(m_path + QStringLiteral(".lock"));
  // A writer holds the lock for milliseconds. A lock left by a writer that was killed before it
  // could even record its process id is judged by its age alone, so keep that age short.
  lock.setStaleLockTime(2000);
  if (!lock.tryLock(8000)) {
    m_lastError = QStringLiteral("The settings file %1 is locked by another program").arg(m_path);
    return false;
  }
  m_loaded = false;
  refresh();
  std::vector<Line> lines = m_lines;
  const int at = findEntry(lines, section, key);
  if (at >= 0) {
    lines[static_cast<size_t>(at)].value = value;
  } else {
    // Append to the last block of the section, or start the section at the end.
    int sectionAt = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i)
      if (lines[static_cast<size_t>(i)].kind == Line::Section && sameName(lines[static_cast<size_t>(i)].name, section))
        sectionAt = i;
    Line entry{Line::Entry, key, value};
    if (sectionAt < 0) {
      lines.push_back(Line{Line::Section, section, {}});
      lines.push_back(entry);
    } else {
      int insertAt = sectionAt + 1;
      while (insertAt < static_cast<int>(lines.size()) && lines[static_cast<size_t>(insertAt)].kind == Line::Entry) ++insertAt;
      lines.insert(lines.begin() + insertAt, entry);
    }
  }
  QSaveFile out(m_path);
  if (!out.open(QIODevice::WriteOnly)) {
    m_lastError = QStringLiteral("Cannot write %1: %2").arg(m_path, out.errorString());
    return false;
  }
  const QByteArray bytes = serialize(lines);
  if (out.write(bytes) != bytes.size() || !out.commit()) {
    m_lastError = QStringLiteral("Cannot write %1: %2").arg(m_path, out.errorString());
    return false;
  }
  m_lines = std::move(lines);
  m_stamp = stamp();
  return true;
}

}  // namespace chimewise

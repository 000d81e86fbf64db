#include "core/settings_store.h"

#include "core/settings_keys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <sys/stat.h>

#include <algorithm>

namespace chimewise {

namespace {

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString escapeName(const QString& name) {
  QString out;
  for (QChar c : name) {
    if (c == u'\\' || c == u'=' || c == u']') out += u'\\';
    if (c == u'\n') {
      out += QStringLiteral("\\n");
      continue;
    }
    if (c == u'\r') {
      out += QStringLiteral("\\r");
      continue;
    }
    out += c;
  }
  return out;
}

// Names escape "\\", "\=" and "\]" with a backslash, newline and return as "\n" and "\r".
QString unescapeName(const QString& text) {
  QString out;
  for (int i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c != u'\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const QChar e = text.at(++i);
    if (e == u'n')
      out += u'\n';
    else if (e == u'r')
      out += u'\r';
    else if (e == u'\\' || e == u'=' || e == u']')
      out += e;
    else {
      out += u'\\';
      out += e;
    }
  }
  return out;
}

// Index of the first unescaped occurrence of ch, or -1.
int findUnescaped(const QString& s, QChar ch) {
  for (int i = 0; i < s.size(); ++i) {
    if (s.at(i) == u'\\') {
      ++i;
      continue;
    }
    if (s.at(i) == ch) return i;
  }
  return -1;
}

}  // namespace

SettingsStore::SettingsStore(QString filePath) : m_path(std::move(filePath)) {}

namespace {

bool needsQuotes(const QString& value) {
  if (value.isEmpty()) return false;
  if (value.contains(u'\n') || value.contains(u'\r')) return true;
  if (value.front().isSpace() || value.back().isSpace()) return true;
  return value.size() >= 2 && value.front() == u'"' && value.back() == u'"';
}

}  // namespace

QString SettingsStore::escapeValue(const QString& value) {
  if (!needsQuotes(value)) return value;
  QString out;
  out.reserve(value.size() + 4);
  out += u'"';
  for (const QChar c : value) {
    if (c == u'\\')
      out += QStringLiteral("\\\\");
    else if (c == u'\n')
      out += QStringLiteral("\\n");
    else if (c == u'\r')
      out += QStringLiteral("\\r");
    else
      out += c;
  }
  out += u'"';
  return out;
}

QString SettingsStore::unescape(const QString& text) {
  if (text.size() < 2 || text.front() != u'"' || text.back() != u'"') return text;
  const QStringView inner = QStringView(text).sliced(1, text.size() - 2);
  QString out;
  out.reserve(inner.size());
  for (qsizetype i = 0; i < inner.size(); ++i) {
    const QChar c = inner.at(i);
    const QChar e = i + 1 < inner.size() ? inner.at(i + 1) : QChar();
    if (c == u'\\' && (e == u'\\' || e == u'n' || e == u'r')) {
      out += e == u'n' ? QChar(u'\n') : e == u'r' ? QChar(u'\r') : e;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<SettingsStore::Line> SettingsStore::parse(const QByteArray& bytes) {
  std::vector<Line> lines;
  const QList<QByteArray> rows = bytes.split('\n');
  for (qsizetype r = 0; r < rows.size(); ++r) {
    const QByteArray& raw = rows.at(r);
    if (r == rows.size() - 1 && raw.isEmpty()) break;  // the final newline
    QString row = QString::fromUtf8(raw);
    if (row.endsWith(u'\r')) row.chop(1);
    const QString t = row.trimmed();
    Line line;
    line.raw = raw;
    if (t.startsWith(u'[')) {
      const int close = findUnescaped(t, u']');
      if (close > 0) {
        line.kind = Line::Section;
        line.name = unescapeName(t.mid(1, close - 1));
        lines.push_back(line);
        continue;
      }
    }
    const int eq = findUnescaped(row, u'=');
    if (eq > 0 && !t.startsWith(u';') && !t.startsWith(u'#')) {
      line.kind = Line::Entry;
      line.name = unescapeName(row.left(eq).trimmed());
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
  QByteArray out;
  for (const Line& l : lines) {
    // A line read from the file and left alone goes back byte for byte, whatever its bytes are.
    if (!l.raw.isNull()) {
      out += l.raw;
      out += '\n';
      continue;
    }
    switch (l.kind) {
      case Line::Section: out += (u'[' + escapeName(l.name) + QStringLiteral("]\n")).toUtf8(); break;
      case Line::Entry: out += (escapeName(l.name) + u'=' + escapeValue(l.value) + u'\n').toUtf8(); break;
      case Line::Raw: out += (l.value + u'\n').toUtf8(); break;
    }
  }
  return out;
}

int SettingsStore::findEntry(const std::vector<Line>& lines, const QString& section, const QString& key) {
  bool inSection = false;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    const Line& l = lines[static_cast<size_t>(i)];
    if (l.kind == Line::Section)
      inSection = sameName(l.name, section);
    else if (inSection && l.kind == Line::Entry && sameName(l.name, key))
      return i;
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

QString SettingsStore::readBounded(const QString& section, const QString& key, const QString& defaultText,
                                   qsizetype maxLength) const {
  refresh();
  const int i = findEntry(m_lines, section, key);
  if (i < 0) return defaultText;
  const QString& value = m_lines[static_cast<size_t>(i)].value;
  // Too long to be a sane value: unreadable, so the default applies (the file keeps it).
  return value.size() > maxLength ? defaultText : value;
}

QString SettingsStore::read(const QString& section, const QString& key, const QString& defaultText) const {
  return readBounded(section, key, defaultText, kMaxValueLength);
}

QString SettingsStore::read(const SettingKey& key) const { return read(key, QString::fromUtf8(key.defaultText)); }

QString SettingsStore::read(const SettingKey& key, const QString& readerDefault) const {
  return readBounded(QString::fromUtf8(key.section), QString::fromUtf8(key.key), readerDefault,
                     std::min<qsizetype>(key.maxLength, kMaxValueLength));
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
    lines[static_cast<size_t>(at)].raw = QByteArray();
  } else {
    // Append to the last block of the section, or start the section at the end.
    int sectionAt = -1;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i)
      if (lines[static_cast<size_t>(i)].kind == Line::Section && sameName(lines[static_cast<size_t>(i)].name, section))
        sectionAt = i;
    Line entry{Line::Entry, key, value, {}};
    if (sectionAt < 0) {
      lines.push_back(Line{Line::Section, section, {}, {}});
      lines.push_back(entry);
    } else {
      int insertAt = sectionAt + 1;
      while (insertAt < static_cast<int>(lines.size()) && lines[static_cast<size_t>(insertAt)].kind == Line::Entry)
        ++insertAt;
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

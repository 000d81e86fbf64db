#pragma once
// The per-user settings store: section -> key -> text, kept in one INI-style file.
//
// Section and key names match without regard to letter case. Reads never fail: a missing,
// unreadable or damaged file reads as empty, so every read yields its default. Writes replace the
// file atomically (write aside, flush, rename), under a lock file, after re-reading what another
// process may have written meanwhile; a crash mid-write leaves the old file readable.
//
// File format, one item per line, UTF-8:
//   [Section name]
//   Key name=value
// Values are escaped so that any text survives: "\\" backslash, "\n" newline, "\r" return,
// "\t" tab, "\s" a space at either end of the value; "\=" and "\]" stand for "=" and "]". Any
// other backslash stands for itself, so hand-written speech tags ("\pl=Wave\") survive. Lines
// that are neither sections nor entries are kept as they are and otherwise ignored.

#include <QString>
#include <QStringList>
#include <vector>

namespace chimewise {

struct SettingKey;

class SettingsStore {
 public:
  explicit SettingsStore(QString filePath);

  // The stored text, or defaultText when the section or key is absent.
  QString read(const QString& section, const QString& key, const QString& defaultText) const;
  // Reads a key of the vocabulary with its own default.
  QString read(const SettingKey& key) const;
  // Reads a key of the vocabulary with a reader's own default (where readers differ).
  QString read(const SettingKey& key, const QString& readerDefault) const;

  // Creates the section and key as needed and replaces any old value. Returns false (and keeps the
  // old file) when the file cannot be written; lastError() then says why.
  bool write(const QString& section, const QString& key, const QString& value);
  bool write(const SettingKey& key, const QString& value);

  // Creates an empty settings file (and its folder) when none exists yet, so a person can find it.
  bool createIfMissing();

  bool contains(const QString& section, const QString& key) const;
  QString filePath() const { return m_path; }
  QString lastError() const { return m_lastError; }

  // Exposed for tests of the file format.
  static QString escapeValue(const QString& value);
  static QString unescape(const QString& text);

 private:
  struct Line {
    enum Kind { Raw, Section, Entry } kind = Raw;
    QString name;   // section or key name (unescaped)
    QString value;  // entry value (unescaped) or the raw line
  };
  struct FileStamp {
    qint64 size = -1;
    qint64 mtimeNs = -1;
    quint64 inode = 0;
    bool operator==(const FileStamp&) const = default;
  };

  void refresh() const;
  FileStamp stamp() const;
  static std::vector<Line> parse(const QByteArray& bytes);
  static QByteArray serialize(const std::vector<Line>& lines);
  static int findEntry(const std::vector<Line>& lines, const QString& section, const QString& key);

  QString m_path;
  mutable std::vector<Line> m_lines;
  mutable FileStamp m_stamp;
  mutable bool m_loaded = false;
  QString m_lastError;
};

}  // namespace chimewise

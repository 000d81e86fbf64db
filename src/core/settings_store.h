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
// A value is kept as it stands, backslashes and all, so hand-written speech tags ("\spd=140\",
// "\pl=Wave\") mean what they say. A value that cannot stand as it is (a line break or return in
// it, a blank at either end, or a quote at both ends) is written between double quotes, and only
// there "\\", "\n" and "\r" stand for a backslash, a line break and a return; any other
// backslash inside the quotes stands for itself. Names escape "\\", "\=", "\]", "\n" and "\r".
// Lines that are neither sections nor entries are kept as they are and otherwise ignored. A write
// changes the bytes of the one line it writes (or adds); every other line, whatever its bytes
// (invalid UTF-8 included), goes back exactly as it was read.
//
// A value longer than kMaxValueLength characters (or than its key's own bound, see SettingKey) is
// unreadable: reading it gives the default, and the file keeps it until it is written over. No
// setting the program keeps comes near that length; a huge value can only be damage, and reading
// it would slow down everything that uses it.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace chimewise {

struct SettingKey;

class SettingsStore {
 public:
  static constexpr qsizetype kMaxValueLength = 4096;

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

  // A value as the file holds it, and back (exposed for tests of the file format).
  static QString escapeValue(const QString& value);
  static QString unescape(const QString& text);

 private:
  struct Line {
    enum Kind { Raw, Section, Entry } kind = Raw;
    QString name;    // section or key name (unescaped)
    QString value;   // entry value (unescaped) or the raw line
    QByteArray raw;  // the line's bytes as read (without its line break); null once changed or when new
  };
  struct FileStamp {
    qint64 size = -1;
    qint64 mtimeNs = -1;
    quint64 inode = 0;
    bool operator==(const FileStamp&) const = default;
  };

  QString readBounded(const QString& section, const QString& key, const QString& defaultText,
                      qsizetype maxLength) const;
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

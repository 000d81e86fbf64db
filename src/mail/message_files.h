#pragma once
// The message files of a run on request: "mail" + N + ".txt" in the mail folder, one line per
// value (CR LF), UTF-8, readable by the user only. File N belongs to row N of the unread e-mail
// window and lives until the window closes.

#include "core/problem.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace chimewise {

class MessageFiles {
 public:
  // The folder is created (for the user only) when a file is first written.
  explicit MessageFiles(QString folder) : m_folder(std::move(folder)) {}

  // The program's mail folder: AppFolder + "/NewMail".
  static QString DefaultFolder(const QString& appFolder);

  QString folder() const { return m_folder; }
  QString path(int index) const;

  // Replaces any old file of the same name, or says why it cannot be written. Safe to call from
  // another thread than the one that reads.
  Problem Write(int index, const QStringList& lines) const;
  // The lines of a file (found without regard to the letter case of its name); nullopt when there
  // is none or it cannot be read.
  std::optional<QStringList> Read(int index) const;
  void Remove(int index) const;
  // Removes every message file, such as those a run that ended in a crash left behind.
  void RemoveAll() const;

 private:
  QString find(int index) const;
  QString m_folder;
};

}  // namespace chimewise

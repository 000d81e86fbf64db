#include "character/character_choice.h"

#include "core/app_paths.h"

#include <QDir>

namespace chimewise {

std::optional<QString> ChooseCharacter(const QStringList& folders) {
  for (const QString& folder : folders)
    if (FindPathNoCase(folder, kPreferredCharacter + kCharacterExtension)) return kPreferredCharacter.toUpper();
  for (const QString& folder : folders) {
    QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& f : files) {
      if (!f.endsWith(kCharacterExtension, Qt::CaseInsensitive)) continue;
      QString name = f;
      const qsizetype dot = name.indexOf(u'.');
      if (dot >= 0) name = name.left(dot);
      if (!name.isEmpty()) return name;
    }
  }
  return std::nullopt;
}

QStringList CharacterFiles(const QStringList& folders) {
  QStringList preferred, others;
  for (const QString& folder : folders) {
    const QDir dir(folder);
    for (const QString& f : dir.entryList(QDir::Files, QDir::Name)) {
      if (!f.endsWith(kCharacterExtension, Qt::CaseInsensitive)) continue;
      (f.compare(kPreferredCharacter + kCharacterExtension, Qt::CaseInsensitive) == 0 ? preferred : others)
          << dir.filePath(f);
    }
  }
  return preferred + others;
}

}  // namespace chimewise

#pragma once
// Choosing the character at start-up when none is stored yet.

#include <QString>
#include <QStringList>
#include <optional>

namespace chimewise {

// Character files carry this ending; the stored name is the file name without it.
inline const QString kCharacterExtension = QStringLiteral(".ochar");
// The character chosen first when it is installed (the stored name is then in capitals).
inline const QString kPreferredCharacter = QStringLiteral("hoot");

// The character to use when none is stored: the preferred one when any folder holds it, else the
// first character file (by name) of the first folder that holds any. The result is cut at its
// first "."; nullopt when no character is installed.
std::optional<QString> ChooseCharacter(const QStringList& characterFolders);
// Every character file of the folders (full paths): the preferred character's first, then the
// others folder by folder, by name.
QStringList CharacterFiles(const QStringList& characterFolders);

}  // namespace chimewise

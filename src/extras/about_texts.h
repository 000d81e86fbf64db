#pragma once
// What the About window says: its caption, the version line, the description and the notice.

#include <QString>

namespace chimewise {

// "About Olm Chimewise".
QString AboutCaption();
// "Version: " + major.minor.revision of this build.
QString AboutVersionText();
QString AboutDescription();
QString AboutNotice();

// The help page the About window's "Detailed Info" opens, below the application folder.
inline const QString kAboutHelpPage = QStringLiteral("helpfile/about.htm");

}  // namespace chimewise

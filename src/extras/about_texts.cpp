#include "extras/about_texts.h"

#include "core/program_version.h"
#include "core/prompts.h"

namespace chimewise {

QString AboutCaption() { return QStringLiteral("About ") + kProgramTitle; }

QString AboutVersionText() {
  return QStringLiteral("Version: %1.%2.%3").arg(version::kMajor).arg(version::kMinor).arg(version::kRevision);
}

QString AboutDescription() {
  return kProgramTitle +
         QStringLiteral(
             " schedules your activities and announces them when they are due. It also works as a talking alarm "
             "clock that tells you the time through the day, reads your new mail and the clipboard aloud, and "
             "tells a joke now and then. An animated character, Hoot the owl or Bolt the robot, is its face and "
             "voice.");
}

QString AboutNotice() {
  return QStringLiteral(
      "Copyright \u00A9 the Olm Chimewise developers. This program is distributed under the terms of the "
      "licence that comes with it, and is provided as it is, without warranty of any kind.");
}

}  // namespace chimewise

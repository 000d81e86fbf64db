#pragma once
// The guided tour of the Options dialog, in five sections: a welcome, then one per tab
// (Characters, Time Announcements, Reminder Options, Email Options). The dialog starts all five on
// its first activation and, from its Help button, the section of the tab in front.
//
// The tour finds the dialog's parts by object name: the tab strip "tbsOptions" and the controls named
// below; a control that is not there costs only the step that points at it.

#include "tours/tour_runner.h"

#include <QString>

class QDialog;

namespace chimewise {

struct OptionsSections {
  bool intro = false;
  bool characters = false;
  bool time = false;
  bool reminders = false;
  bool email = false;
  bool operator==(const OptionsSections&) const = default;
};

// The dialog's tour hook passes 0 for the whole tour and 1 to 4 for the section of that tab
// (Characters, Time Announcements, Reminder Options, Email Options); anything else selects none.
OptionsSections OptionsSectionsFor(int section);
// The section of a tab by its caption ("Characters" is 1 ... "Email Options" is 4); 0 for any other.
int OptionsSectionOfTab(const QString& caption);

// The tour's steps over `dialog`: the sections asked for, in order.
TourScript OptionsTourScript(QDialog& dialog, const OptionsSections& sections, const Clock& clock);

// Starts the tour and returns; it runs on from the event loop. Nothing is done while another tour
// runs.
void RunOptionsTour(QDialog& dialog, const OptionsSections& sections, TourContext& context);
inline void RunOptionsTour(QDialog& dialog, int section, TourContext& context) {
  RunOptionsTour(dialog, OptionsSectionsFor(section), context);
}

}  // namespace chimewise

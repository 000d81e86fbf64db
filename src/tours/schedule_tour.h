#pragma once
// The guided tour of the Schedule Activity dialog: the character walks through the dialog,
// explains each field and fills in an example reminder (a lunch, then a countdown), and at the
// end every field holds the user's own values again.

#include "tours/tour_runner.h"

namespace chimewise {

class ScheduleDialog;

// The example memo the tour types, as it is shown and as it is spoken.
extern const char* const kScheduleTourMemo;
extern const char* const kScheduleTourMemoSpoken;

// The tour's steps over `d`.
TourScript ScheduleTourScript(ScheduleDialog& d, const ProgramOptions& options);

// Starts the tour over an open dialog and returns; it runs on from the event loop, and at its end
// every field holds the user's own values again. The dialog's automatic start is spent
// ("Schedule" / "ShowHelp" becomes "0"). Nothing is done while another tour runs.
void RunScheduleTour(ScheduleDialog& dialog, TourContext& context);

}  // namespace chimewise

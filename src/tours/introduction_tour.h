#pragma once
// The introduction: the character greets the user from the screen's lower right corner, presents
// the program (reminders, the talking clock, its menu, jokes and quotes, reading the clipboard)
// and then walks through the Reminder Viewer: its list, its five toolbar buttons and its memo box.
// It runs on the first start after installation and from the viewer's Help > Tutorial.

#include "tours/tour_runner.h"

#include <functional>

class QWidget;

namespace chimewise {

class ViewerWindows;

// Opens the Reminder Viewer (or brings the open one to the front) and gives its window; null when
// it cannot be opened. The tour finds the viewer's parts by object name: the toolbar "Toolbar1",
// the buttons "ToolRead", "ToolNew", "ToolProperties", "ToolDelete" and "ToolOptions", the list
// and the memo box.
using ViewerOpener = std::function<QWidget*()>;
ViewerOpener OpenViewerOf(ViewerWindows& viewers);

// The introduction's steps, spoken by the character named `name`.
TourScript IntroductionScript(const QString& name, const ViewerOpener& openViewer, const TourContext& context);

// Starts the introduction and returns; it runs on from the event loop. Nothing is done while
// another tour runs.
void RunIntroduction(TourContext& context, const ViewerOpener& openViewer);

}  // namespace chimewise

#include "viewer/viewer_rules.h"

#include "core/value_reading.h"

#include <algorithm>
#include <cmath>

namespace chimewise::viewer {

TwipsSize EnforceMinimumSize(TwipsSize window) {
  return {std::max(window.width, kMinimumWidth), std::max(window.height, kMinimumHeight)};
}

std::array<int, 3> ColumnWidths(int insideWidth, int dateNeed) {
  const int room = insideWidth - kGridChrome;
  auto part = [room](double share) { return static_cast<int>(std::lround(share * room)); };
  const int date = 0.3 * room > 2300 ? 2000 : std::max(0, part(0.3));
  if (dateNeed <= date) {
    if (0.3 * room > 2300) return {2000, room - 4000, 2000};
    return {date, std::max(0, part(0.4)), date};
  }
  return {dateNeed, std::max(0, room - 2 * dateNeed), dateNeed};
}

TwipsSize MinimumViewerSize(int dateNeed, int rowHeight, int chromeHeight) {
  const int width = kGridChrome + 3 * std::max(0, dateNeed);
  // The list takes 60 % of what the banner leaves (the banner is part of the chrome), and must
  // hold its heading and three rows; the memo box below gets the rest.
  const int list = 4 * std::max(0, rowHeight) + 2 * kMemoGap;
  const int height = chromeHeight + static_cast<int>(std::ceil(list / 0.6));
  return {std::max(width, kMinimumWidth), std::max(height, kMinimumHeight)};
}

ViewerLayout LayoutViewer(int insideWidth, int insideHeight, int bannerHeight, int gridTop, int dateNeed) {
  ViewerLayout l;
  l.width = std::max(0, insideWidth);
  l.gridTop = gridTop;
  l.gridHeight = std::max(0, static_cast<int>(std::lround((insideHeight - bannerHeight) * 0.6)));
  l.memoHeight = std::max(0, insideHeight - l.gridHeight - gridTop - 2 * kMemoGap);
  l.memoTop = insideHeight - kMemoGap - l.memoHeight;
  l.columns = ColumnWidths(insideWidth, dateNeed);
  return l;
}

bool RecordCommandsEnabled(int rowCount) { return rowCount > 0; }

int RowToHighlight(int keptRow, int previousRow, int rowCount) {
  if (rowCount <= 0) return -1;
  if (keptRow >= 0 && keptRow < rowCount) return keptRow;
  return std::clamp(previousRow, 0, rowCount - 1);
}

bool HideCharacterWithViewer(const QString& showOnStart, bool keepCharacter) {
  return !keepCharacter && LeadingNumber(showOnStart) == 0;
}

QString ShowFutureText(bool showFuture) { return showFuture ? QStringLiteral("1") : QStringLiteral("0"); }

bool ShowFutureFromText(const QString& text) { return text != QLatin1String("0"); }

}  // namespace chimewise::viewer

// Windows time-zone names as Outlook and Exchange write them in TZID, and their IANA zones (the
// zone of the name's main region, as in CLDR's windowsZones table).

#include "icalendar/icalendar.h"

#include <QHash>

namespace icalendar {

QString IanaFromWindows(const QString& name) {
  static const QHash<QString, QString> kZones = {
      {"Dateline Standard Time", "Etc/GMT+12"},
      {"Hawaiian Standard Time", "Pacific/Honolulu"},
      {"Alaskan Standard Time", "America/Anchorage"},
      {"Pacific Standard Time", "America/Los_Angeles"},
      {"Mountain Standard Time", "America/Denver"},
      {"US Mountain Standard Time", "America/Phoenix"},
      {"Central Standard Time", "America/Chicago"},
      {"Canada Central Standard Time", "America/Regina"},
      {"Central Standard Time (Mexico)", "America/Mexico_City"},
      {"Eastern Standard Time", "America/New_York"},
      {"US Eastern Standard Time", "America/Indianapolis"},
      {"Atlantic Standard Time", "America/Halifax"},
      {"Newfoundland Standard Time", "America/St_Johns"},
      {"E. South America Standard Time", "America/Sao_Paulo"},
      {"Argentina Standard Time", "America/Buenos_Aires"},
      {"UTC", "Etc/UTC"},
      {"GMT Standard Time", "Europe/London"},
      {"Greenwich Standard Time", "Atlantic/Reykjavik"},
      {"W. Europe Standard Time", "Europe/Berlin"},
      {"Central Europe Standard Time", "Europe/Budapest"},
      {"Central European Standard Time", "Europe/Warsaw"},
      {"Romance Standard Time", "Europe/Paris"},
      {"E. Europe Standard Time", "Europe/Chisinau"},
      {"FLE Standard Time", "Europe/Kiev"},
      {"GTB Standard Time", "Europe/Bucharest"},
      {"Turkey Standard Time", "Europe/Istanbul"},
      {"Israel Standard Time", "Asia/Jerusalem"},
      {"Egypt Standard Time", "Africa/Cairo"},
      {"South Africa Standard Time", "Africa/Johannesburg"},
      {"Russian Standard Time", "Europe/Moscow"},
      {"Arabian Standard Time", "Asia/Dubai"},
      {"India Standard Time", "Asia/Calcutta"},
      {"China Standard Time", "Asia/Shanghai"},
      {"Singapore Standard Time", "Asia/Singapore"},
      {"Tokyo Standard Time", "Asia/Tokyo"},
      {"Korea Standard Time", "Asia/Seoul"},
      {"AUS Eastern Standard Time", "Australia/Sydney"},
      {"E. Australia Standard Time", "Australia/Brisbane"},
      {"W. Australia Standard Time", "Australia/Perth"},
      {"New Zealand Standard Time", "Pacific/Auckland"},
  };
  return kZones.value(name.trimmed(), name);
}

}  // namespace icalendar

#include "core/startup_settings.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/time_format.h"
#include "core/value_reading.h"

namespace chimewise {

ProgramOptions ReadStartUpSettings(const SettingsStore& store) {
  const auto on = [&](const SettingKey& key) { return NumericReading(store.read(key)) == 1; };
  ProgramOptions options;
  options.readMemos = on(settings::ReadMemos);
  options.readActivity = on(settings::ReadActivity);
  options.remindOn = on(settings::RemindOn);
  options.waitTime = NumericReading(store.read(settings::WaitTime));
  options.timeFormat = store.read(settings::TimeFormat);
  options.keepTableCodePage = on(settings::KeepTableCodePage);
  options.timeRangeOn = TruthReading(store.read(settings::TimeOn));
  // A time that cannot be read counts as the default time.
  const QString defaultStart = QString::fromUtf8(settings::StartTime.defaultText);
  const QString defaultEnd = QString::fromUtf8(settings::EndTime.defaultText);
  options.rangeStart = ParseTimeText(store.read(settings::StartTime)).value_or(*ParseTimeText(defaultStart));
  options.rangeEnd = ParseTimeText(store.read(settings::EndTime)).value_or(*ParseTimeText(defaultEnd));
  return options;
}

}  // namespace chimewise

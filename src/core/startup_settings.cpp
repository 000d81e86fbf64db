#include "core/startup_settings.h"

#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "core/value_reading.h"

namespace chimewise {

void ReadStartUpSettings(SharedState& state, const SettingsStore& store) {
  state.ReadMemos = NumericReading(store.read(settings::ReadMemos));
  state.ReadActivity = NumericReading(store.read(settings::ReadActivity));
  state.RemindOn = NumericReading(store.read(settings::RemindOn));
  state.WaitTime = NumericReading(store.read(settings::WaitTime));
  state.TimeFormat = store.read(settings::TimeFormat);
  state.TimeRangeOn = TruthReading(store.read(settings::TimeOn));
  // A time that cannot be read counts as the default time.
  const QString defaultStart = QString::fromUtf8(settings::StartTime.defaultText);
  const QString defaultEnd = QString::fromUtf8(settings::EndTime.defaultText);
  state.RangeStart = ParseTimeText(store.read(settings::StartTime)).value_or(*ParseTimeText(defaultStart));
  state.RangeEnd = ParseTimeText(store.read(settings::EndTime)).value_or(*ParseTimeText(defaultEnd));
}

}  // namespace chimewise

#pragma once
// Reading and writing reminder records through the engine, field by field.

#include "alarm_rules.h"

#include <xbase/engine.h>

#include <QDate>
#include <QString>

namespace chimewise {

// A date field's raw "yyyymmdd" as a date; invalid when blank or damaged.
QDate TableDate(xbase::WorkArea& area, const char* field);
QString TableText(xbase::WorkArea& area, const char* field, bool trimmed = true);
int TableInt(xbase::WorkArea& area, const char* field);
QString TableMemo(xbase::WorkArea& area, const char* field);

// The fields the announcement needs, of the current record.
ReminderFacts ReadReminderFacts(xbase::WorkArea& area, const QString& timeFormat);

// Writes a new alarm (ALARMDATE, ALARMTIME, ALARMTEXT) into the current record, uncommitted.
xbase::Status WriteAlarm(xbase::WorkArea& area, const AlarmWrite& alarm);

// "Error " + what went wrong + " #" + its number, as the alarm routines report engine errors.
QString EngineErrorText(const xbase::Status& status);

}  // namespace chimewise

#pragma once
// Saves a new reminder as the Schedule Activity dialog does, expecting it stored; its record number.

#include "core/problem.h"
#include "core/shared_state.h"
#include "schedule/save_event.h"

#include <QDate>
#include <QString>
#include <QTime>
#include <gtest/gtest.h>

namespace chimewise::testsupport {

struct NewReminder {
  QString text;
  QDate activityDate;
  QTime activityTime;
  QDate remindDate;
  QTime remindTime;
  QString memo;
  int countdown = 0;
};

inline qint64 AddReminder(EventSaver& saver, const NewReminder& r) {
  EventInput in;
  in.activity = r.text;
  in.memo = r.memo;
  in.activityDate = r.activityDate;
  in.activityTime = r.activityTime;
  in.remindDate = r.remindDate;
  in.remindTime = r.remindTime;
  in.countdown = r.countdown;
  in.countdownOn = r.countdown > 0;
  const SaveResult saved = saver.SaveEvent(in);
  EXPECT_TRUE(saved.saved) << Describe(saved.problem).text.toStdString();
  return saved.recno;
}

}  // namespace chimewise::testsupport

#include "options/options_store.h"

#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/time_format.h"
#include "core/value_reading.h"
#include "options/options_rules.h"

namespace chimewise {

namespace {

// Writes keys one after another, keeping the first failure's reason.
class Writer {
 public:
  explicit Writer(SettingsStore& settings) : m_settings(settings) {}
  void operator()(const SettingKey& key, const QString& value) {
    if (!m_settings.write(key, value) && m_error.isEmpty())
      m_error = QStringLiteral("Could not save \"%1\": %2").arg(QLatin1String(key.key), m_settings.lastError());
  }
  QString error() const { return m_error; }

 private:
  SettingsStore& m_settings;
  QString m_error;
};

// A time of day as the range keys keep it, and the same text read back: whole minutes.
QString rangeText(const QTime& t) { return t.toString(QStringLiteral("HH:mm")); }
QTime rangeTime(const QString& text) { return ParseTimeText(text).value_or(QTime()); }

}  // namespace

QString CheckText(bool checked) { return checked ? QStringLiteral("1") : QStringLiteral("0"); }
QString OptionText(bool selected) { return selected ? QStringLiteral("-1") : QStringLiteral("0"); }

OptionsValues ReadOptions(const SettingsStore& settings, const ProgramOptions& running) {
  const auto flag = [&](const SettingKey& key) { return NumericFlag(settings.read(key)); };
  OptionsValues v;
  v.waitTime = QString::number(running.waitTime);
  v.remindOn = running.remindOn;
  v.readMemos = running.readMemos;
  v.readActivity = running.readActivity;

  v.checkMail =
      NotZeroReading(settings.read(settings::CheckMail, QLatin1String(settings::CheckMailOptionsReaderDefault)));
  v.mailInterval = settings.read(settings::MailInterval);
  v.autoWhen = flag(settings::AutoWhen);
  v.autoWho = flag(settings::AutoWho);
  v.autoSubject = flag(settings::AutoSubject);
  v.autoBody = flag(settings::AutoBody);
  v.readAll = TruthReading(settings.read(settings::ReadAll));
  v.when = flag(settings::MailWhen);
  v.who = flag(settings::MailWho);
  v.subject = flag(settings::MailSubject);
  v.body = flag(settings::MailBody);
  v.markRead = flag(settings::MarkRead);
  v.mailbox = settings.read(settings::Mailbox);
  v.mailUser = settings.read(settings::MailUser);
  v.syncServer = settings.read(settings::SyncServer);
  v.syncUser = settings.read(settings::SyncUser);

  v.timeOn = TruthReading(settings.read(settings::TimeOn, QLatin1String(settings::TimeOnOptionsReaderDefault)));
  v.rangeStart = ParseTimeText(settings.read(settings::StartTime)).value_or(QTime());
  v.rangeEnd = ParseTimeText(settings.read(settings::EndTime)).value_or(QTime());
  v.interval = NumericReading(settings.read(settings::AnnounceInterval));
  v.sayTimeOfDay = flag(settings::SayTimeOfDay);
  v.sayDayOfWeek = flag(settings::SayDayOfWeek);
  v.sayDate = flag(settings::SayDate);
  v.showOnStart = flag(settings::ShowOnStart);
  v.phrase = settings.read(settings::AnnouncePhrase);
  v.announceOn = NotZeroReading(settings.read(settings::AnnounceOn));
  v.size = NumericReading(settings.read(settings::CharacterSize));
  v.characterName = settings.read(settings::CharacterName);
  v.characterIndex = NumericReading(settings.read(settings::CharacterIndexName));
  v.gestureIndex = NumericReading(settings.read(settings::GestureIndex));
  const QStringList gestures = AnnounceGestureNames();
  if (v.gestureIndex < 0 || v.gestureIndex >= gestures.size()) {
    // No position kept (a fresh store, or a gesture written elsewhere): the list shows the gesture
    // the clock plays, so an Apply made for something else does not change it.
    const QString gesture = settings.read(settings::AnnounceGesture).trimmed();
    v.gestureIndex = gesture.isEmpty() ? 0 : -1;
    for (qsizetype i = 1; i < gestures.size() && !gesture.isEmpty(); ++i)
      if (gestures[i].compare(gesture, Qt::CaseInsensitive) == 0) v.gestureIndex = static_cast<int>(i);
  }
  if (v.gestureIndex >= 0) v.gestureText = gestures[v.gestureIndex];
  v.showFuture = flag(settings::ShowFuture);
  v.noSoundEffects = flag(settings::NoSoundEffects);
  v.desktopNotices = flag(settings::DesktopNotices);
  v.amPm = AmPmTicked(running.timeFormat);
  return v;
}

QString StoreOptions(const OptionsValues& v, SettingsStore& settings, ProgramOptions& running) {
  Writer write(settings);
  write(settings::CharacterName, v.characterName.trimmed());
  write(settings::CharacterIndexName, QString::number(v.characterIndex));

  write(settings::Mailbox, v.mailbox.trimmed());
  write(settings::MailUser, v.mailUser.trimmed());
  write(settings::SyncServer, v.syncServer.trimmed());
  write(settings::SyncUser, v.syncUser.trimmed());
  write(settings::CheckMail, CheckText(v.checkMail));
  write(settings::MailInterval, v.mailInterval.trimmed());
  write(settings::AutoWhen, CheckText(v.autoWhen));
  write(settings::AutoWho, CheckText(v.autoWho));
  write(settings::AutoSubject, CheckText(v.autoSubject));
  write(settings::AutoBody, CheckText(v.autoBody));
  write(settings::ReadAll, OptionText(v.readAll));
  write(settings::MailWhen, CheckText(v.when));
  write(settings::MailWho, CheckText(v.who));
  write(settings::MailSubject, CheckText(v.subject));
  write(settings::MailBody, CheckText(v.body));
  write(settings::MarkRead, CheckText(v.markRead));

  const QString start = rangeText(v.rangeStart);
  const QString end = rangeText(v.rangeEnd);
  write(settings::TimeOn, CheckText(v.timeOn));
  write(settings::StartTime, start);
  write(settings::EndTime, end);
  running.timeRangeOn = v.timeOn;
  running.rangeStart = rangeTime(start);
  running.rangeEnd = rangeTime(end);

  const GestureSetting gesture = GestureToStore(v.gestureIndex, v.gestureText);
  write(settings::AnnounceInterval, QString::number(v.interval));
  write(settings::AnnouncePhrase, v.phrase.trimmed());
  write(settings::GestureIndex, QString::number(gesture.index));
  write(settings::AnnounceGesture, gesture.gesture);

  write(settings::AnnounceOn, CheckText(v.announceOn));
  write(settings::SayTimeOfDay, CheckText(v.sayTimeOfDay));
  write(settings::SayDayOfWeek, CheckText(v.sayDayOfWeek));
  write(settings::SayDate, CheckText(v.sayDate));

  write(settings::TimeFormat, running.timeFormat);

  running.waitTime = NumericReading(v.waitTime);
  write(settings::WaitTime, v.waitTime.trimmed());
  running.remindOn = v.remindOn;
  write(settings::RemindOn, CheckText(v.remindOn));
  running.readActivity = v.readActivity;
  write(settings::ReadActivity, CheckText(v.readActivity));

  write(settings::CharacterSize, QString::number(v.size));
  write(settings::ShowFuture, CheckText(v.showFuture));
  write(settings::NoSoundEffects, CheckText(v.noSoundEffects));

  write(settings::ShowOnStart, CheckText(v.showOnStart));
  write(settings::DesktopNotices, CheckText(v.desktopNotices));
  return write.error();
}

QString StoreOnClose(SettingsStore& settings, const ProgramOptions& running, const QDate& today) {
  Writer write(settings);
  write(settings::ReadMemos, CheckText(running.readMemos));
  write(settings::ReadActivity, CheckText(running.readActivity));
  write(settings::OptionsOpened, today.toString(QStringLiteral("yyyyMMdd")));
  return write.error();
}

}  // namespace chimewise

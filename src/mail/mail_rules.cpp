#include "mail/mail_rules.h"

#include "clock/spoken_time.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/value_reading.h"

#include <QLocale>

namespace chimewise {

namespace {
const QString kAtTag = QStringLiteral("\\map=\".at.\"=\" at \"\\");
}

MailFlags ReadMailFlags(const SettingsStore& s, bool onRequest) {
  MailFlags f;
  if (onRequest) {
    f.sayWhen = NumericFlag(s.read(settings::MailWhen));
    f.sayWho = NumericFlag(s.read(settings::MailWho));
    f.saySubject = NumericFlag(s.read(settings::MailSubject));
    f.sayBody = NumericFlag(s.read(settings::MailBody));
    f.markRead = NumericFlag(s.read(settings::MarkRead));
  } else {
    f.sayWhen = NumericFlag(s.read(settings::AutoWhen));
    f.sayWho = NumericFlag(s.read(settings::AutoWho));
    f.saySubject = NumericFlag(s.read(settings::AutoSubject));
    f.sayBody = NumericFlag(s.read(settings::AutoBody));
    f.readAll = TruthReading(s.read(settings::ReadAll));
  }
  return f;
}

QString MailAnnouncement(int count) {
  if (count < 1) return kNoNewMail;
  return QStringLiteral("You have %1 unread message%2.").arg(count).arg(count > 1 ? QStringLiteral("s") : QString());
}

QString MailboxUnreachableText(const QString& reason) {
  return QStringLiteral("\\pl=Sad\\Sorry, I could not reach your mailbox because %1.\\pl=Blink\\").arg(reason);
}

QString WhenPhrase(const QDateTime& sent, const QDateTime& now) {
  const qint64 days = sent.date().daysTo(now.date());
  const QString weekday = SpokenWeekday(sent.date());
  if (days == 0) return QStringLiteral("today ");
  if (days == 1) return QStringLiteral("yesterday ");
  if (days < 7) return weekday;
  if (days < 14) return QStringLiteral("a week ago ") + weekday;
  return QStringLiteral("on ") + QLocale::system().toString(sent.date(), QLocale::LongFormat);
}

QString WhenLine(const QDateTime& sent, const QDateTime& now) {
  const int hour12 = sent.time().hour() % 12 == 0 ? 12 : sent.time().hour() % 12;
  const QString time = QStringLiteral("%1:%2").arg(hour12).arg(sent.time().minute(), 2, 10, QLatin1Char('0'));
  return WhenPhrase(sent, now) + kAtTag + time + QStringLiteral(" in the ") + PartOfDayWord(sent.time().hour()) +
         QStringLiteral(".");
}

QString PlainSpeech(QString text) { return text.replace(u'\\', u'/'); }

QString SpokenBody(const QString& body) {
  QString b = body.trimmed();
  // Line ends are spoken as plain newlines: no carriage return reaches the voice.
  b.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  b.replace(u'\r', u'\n');
  return b.trimmed();
}

QString SpeechPortion(const QString& body) {
  if (body.size() <= kMaxSpokenBody) return body;
  qsizetype cut = kMaxSpokenBody;
  // At the last blank of the final stretch, so no word is cut in two.
  for (qsizetype i = kMaxSpokenBody; i > kMaxSpokenBody * 3 / 4; --i) {
    if (body[i].isSpace()) {
      cut = i;
      break;
    }
  }
  if (body[cut - 1].isHighSurrogate()) --cut;
  return body.left(cut).trimmed() + QStringLiteral(" and more.");
}

QString SpokenSender(const QString& senderName) {
  return senderName.trimmed().isEmpty() ? QStringLiteral("an unknown sender") : senderName;
}

QStringList AutomaticSpeech(const MailItem& item, const MailFlags& f, const QDateTime& now) {
  QStringList out;
  if (!item.problem.isEmpty()) {
    out << QStringLiteral("\\pl=Uncertain\\") + UnreadableLine(item);
    return out;
  }
  if (f.sayWhen) out << QStringLiteral("Message sent ") + WhenLine(item.sent, now);
  if (f.sayWho)
    out << (f.sayWhen ? QStringLiteral("By ") : QStringLiteral("Message sent by ")) +
               PlainSpeech(SpokenSender(item.senderName)) + QStringLiteral(".");
  if (f.saySubject && !item.subject.trimmed().isEmpty())
    out << (f.sayWhen || f.sayWho ? QStringLiteral("S") : QStringLiteral("Message S")) + QStringLiteral("ubject: ") +
               PlainSpeech(item.subject) + QStringLiteral(".");
  if (f.sayBody) {
    const QString body = SpokenBody(item.body);
    if (item.textUnreadable)
      out << QStringLiteral("\\pl=Uncertain\\") + kUnreadableText;
    else if (!body.isEmpty())
      out << QStringLiteral("Message Reads: ") + PlainSpeech(SpeechPortion(body));
  }
  return out;
}

QString UnreadableRowText(const MailItem& item) {
  return item.subject.trimmed().isEmpty() ? QStringLiteral("(a message that could not be read)")
                                          : item.subject + QStringLiteral(" (could not be read)");
}

QString UnreadableLine(const MailItem& item) {
  const QString from = item.senderName.trimmed().isEmpty() ? QString() : QStringLiteral(" from ") + item.senderName;
  return PlainSpeech(QStringLiteral("I could not read a message%1 because %2.").arg(from, item.problem));
}

QStringList MessageFileLines(const MailItem& item, const std::array<bool, 4>& flags, const QDateTime& now) {
  if (!item.problem.isEmpty()) return {UnreadableLine(item)};
  QStringList lines;
  // One value a line: line breaks inside a name or subject would shift every line after it.
  const auto oneLine = [](QString s) { return s.replace(u'\r', u' ').replace(u'\n', u' '); };
  if (flags[0]) lines << WhenLine(item.sent, now);
  if (flags[1]) lines << PlainSpeech(oneLine(SpokenSender(item.senderName)));
  if (flags[2]) lines << PlainSpeech(oneLine(item.subject));
  if (flags[3]) lines << (item.textUnreadable ? kUnreadableText : PlainSpeech(item.body));
  return lines;
}

QStringList ListedMessageSpeech(const QStringList& fileLines, const std::array<bool, 4>& flags, bool unreadable) {
  QStringList out;
  qsizetype next = 0;
  const auto take = [&]() { return next < fileLines.size() ? fileLines[next++] : QString(); };
  if (unreadable) {
    const QString line = take();
    if (!line.trimmed().isEmpty()) out << QStringLiteral("\\pl=Uncertain\\") + line;
    return out;
  }
  if (flags[0]) out << QStringLiteral("\\pl=Blink\\Message sent ") + take();
  if (flags[1])
    out << (flags[0] ? QStringLiteral("By ") : QStringLiteral("Message sent by ")) + take() + QStringLiteral(".");
  if (flags[2]) {
    const QString subject = take();
    if (!subject.trimmed().isEmpty())
      out << (flags[0] || flags[1] ? QStringLiteral("S") : QStringLiteral("Message s")) + QStringLiteral("ubject: ") +
                 subject + QStringLiteral(".");
  }
  if (flags[3]) {
    QString body;
    while (next < fileLines.size()) body += take() + QStringLiteral("\r\n");
    body = SpokenBody(body);
    if (body == kUnreadableText)
      out << QStringLiteral("\\pl=Uncertain\\") + body;
    else if (!body.isEmpty())
      out << QStringLiteral("Message Reads: ") + SpeechPortion(body);
  }
  return out;
}

QDateTime NextMailCheckTime(const SettingsStore& s, int& interval, const QDateTime& now) {
  if (!NotZeroReading(s.read(settings::CheckMail))) return {};
  if (interval == -1) interval = NumericReading(s.read(settings::MailInterval));
  const QDateTime minute = now.addSecs(-now.time().second()).addMSecs(-now.time().msec());
  return minute.addSecs(60LL * std::max(interval, 1));
}

}  // namespace chimewise

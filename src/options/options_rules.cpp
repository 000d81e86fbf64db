#include "options/options_rules.h"

#include "core/time_format.h"

#include "character/character_choice.h"
#include "core/app_paths.h"
#include "core/screen_placement.h"
#include "core/value_reading.h"

#include <QDir>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <vector>

namespace chimewise {

namespace {
const QString kTwelveHour = QStringLiteral("h:mm am/pm");
const QString kTwentyFourHour = QStringLiteral("h:mm");
}  // namespace

QStringList CharacterSizeNames() {
  return {QStringLiteral("Petite"), QStringLiteral("Small"),  QStringLiteral("Average"), QStringLiteral("Husky"),
          QStringLiteral("Portly"), QStringLiteral("Skinny"), QStringLiteral("Gigantic")};
}

QStringList AnnounceIntervalNames() {
  return {QStringLiteral("Minute"),     QStringLiteral("5 Minutes"),  QStringLiteral("10 Minutes"),
          QStringLiteral("15 Minutes"), QStringLiteral("20 Minutes"), QStringLiteral("30 Minutes"),
          QStringLiteral("Hour")};
}

QStringList AnnouncePhraseChoices() {
  return {QStringLiteral("The Time is"),
          QStringLiteral("\\pl=wave\\ Say there stud muffin...  \\pit=50\\ You good lookin dude, \\pl=Explain\\ "
                         "\\pit=80\\ the ole clock \\pit=50\\ on the wall says \\pl=DoMagic2\\"),
          QStringLiteral("Hey Gorgeous, you're looking slim today. The time is"),
          QStringLiteral("Wake up sleepy head its")};
}

QStringList AnnounceGestureNames() {
  return {QStringLiteral("None"),         QStringLiteral("Acknowledge"),   QStringLiteral("Alert"),
          QStringLiteral("Announce"),     QStringLiteral("Blink"),         QStringLiteral("Confused"),
          QStringLiteral("Congratulate"), QStringLiteral("Decline"),       QStringLiteral("DoMagic1"),
          QStringLiteral("DoMagic2"),     QStringLiteral("DontRecognize"), QStringLiteral("Explain"),
          QStringLiteral("GetAttention"), QStringLiteral("Greet"),         QStringLiteral("Pleased"),
          QStringLiteral("Read"),         QStringLiteral("Sad"),           QStringLiteral("Search"),
          QStringLiteral("Suggest"),      QStringLiteral("Surprised"),     QStringLiteral("Think"),
          QStringLiteral("Uncertain"),    QStringLiteral("Wave"),          QStringLiteral("Write")};
}

QString TimeFormatFor(bool amPm) { return amPm ? kTwelveHour : kTwentyFourHour; }

bool AmPmTicked(const QString& timeFormat) { return timeFormat == kTwelveHour; }

QString CharacterEntryName(const QString& fileName) {
  QString name = fileName.section(u'.', 0, 0);
  if (name.isEmpty()) return name;
  return name.left(1).toUpper() + name.mid(1).toLower();
}

std::vector<CharacterEntry> CharacterEntries(const QStringList& folders) {
  std::vector<CharacterEntry> out;
  for (const QString& folder : folders) {
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    for (const QString& file : files) {
      if (!file.endsWith(kCharacterExtension, Qt::CaseInsensitive)) continue;
      const QString name = CharacterEntryName(file);
      if (name.isEmpty()) continue;
      const bool listed = std::any_of(out.begin(), out.end(), [&](const CharacterEntry& e) {
        return e.name.compare(name, Qt::CaseInsensitive) == 0;
      });
      if (!listed) out.push_back({name, file, QDir(folder).filePath(file)});
    }
  }
  return out;
}

int CharacterListPosition(const std::vector<CharacterEntry>& entries, const QString& storedName, int storedIndex) {
  const QString wanted = storedName.trimmed();
  if (!wanted.isEmpty())
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (entries[i].name.compare(wanted, Qt::CaseInsensitive) == 0) return static_cast<int>(i);
  if (storedIndex >= 0 && storedIndex < static_cast<int>(entries.size())) return storedIndex;
  return -1;
}

QString ClampedMailInterval(const QString& text) {
  const double n = LeadingNumber(text);
  if (n < 1) return QStringLiteral("1");
  if (n > 999) return QStringLiteral("999");
  return text;
}

std::optional<QTime> DraggedRangeStart(const QTime& start, const QTime& end) {
  if (start.isValid() && end.isValid() && start > end) return end;
  return std::nullopt;
}

std::optional<QTime> DraggedRangeEnd(const QTime& start, const QTime& end) {
  if (start.isValid() && end.isValid() && end < start) return start;
  return std::nullopt;
}

GestureSetting GestureToStore(int position, const QString& text) {
  if (position < 1) return {QString(), position < 0 ? -1 : 0};
  return {text.trimmed(), position};
}

QString WaitTimeProblem(const QString& text) {
  bool ok = false;
  const int minutes = text.trimmed().toInt(&ok);
  if (ok && minutes >= 1 && minutes <= kMaxWaitMinutes) return {};
  return QStringLiteral(
             "Remind Me Every takes a whole number of minutes from 1 to %1 (a day): a reminder not yet "
             "dealt with is repeated after that many minutes.")
      .arg(kMaxWaitMinutes);
}

QString MailboxProblem(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty() || t.startsWith(u'/') || t.startsWith(QStringLiteral("~/"))) return {};
  const QString example = QStringLiteral(
      "The mailbox must be a Maildir folder (such as ~/Maildir) or a mail server written as "
      "imap://host, imaps://host or imaps://host:993.");
  if (!t.contains(QStringLiteral("://"))) return example;
  const QUrl url(t, QUrl::StrictMode);
  const QString scheme = url.scheme().toLower();
  if (!url.isValid() || (scheme != QStringLiteral("imap") && scheme != QStringLiteral("imaps"))) return example;
  if (url.host().isEmpty()) return QStringLiteral("The mailbox \"%1\" names no mail server.").arg(t);
  if (!url.userInfo().isEmpty() || (!url.path().isEmpty() && url.path() != QStringLiteral("/")) || url.hasQuery() ||
      url.hasFragment())
    return QStringLiteral(
               "The mailbox \"%1\" may name only the mail server and its port; the user name goes in "
               "the User box.")
        .arg(t);
  return {};
}

QString MailboxToStore(const QString& text, const QString& homeFolder) {
  const QString t = text.trimmed();
  if (t.startsWith(QStringLiteral("~/"))) return homeFolder + t.mid(1);
  return t;
}

QString HelpPagePath(const QString& appFolder, const QString& templateFolder, const QString& page) {
  const QString relative = QStringLiteral("helpfile/") + page;
  if (auto found = FindPathNoCase(appFolder, relative)) return *found;
  if (!templateFolder.isEmpty())
    if (auto found = FindPathNoCase(templateFolder, relative)) return *found;
  return appFolder + u'/' + relative;
}

int NextTab(int current, int count) {
  if (count <= 0) return -1;
  return current < 0 ? 0 : (current + 1) % count;
}

QPoint CharacterBesideDialog(const QRect& dialog, const QSize& character, const QRect& screen) {
  // Against the right edge level with the top; else against the left edge; else above the
  // dialog's right end, then below it.
  const int rightEnd = dialog.left() + dialog.width() - character.width();
  const std::vector<QPoint> places = {
      QPoint(dialog.left() + dialog.width(), dialog.top()), QPoint(dialog.left() - character.width(), dialog.top()),
      QPoint(rightEnd, dialog.top() - character.height()), QPoint(rightEnd, dialog.top() + dialog.height())};
  return screen.isEmpty() ? places.front() : FirstFree(places, character, dialog, screen);
}

QPoint CharacterAtDialogFoot(const QRect& dialog, const QSize& character, const QRect& screen, double twipsPerPixel) {
  const int inset = static_cast<int>(std::lround(100.0 / (twipsPerPixel > 0 ? twipsPerPixel : 15.0)));
  const int belowTop = dialog.top() + dialog.height();
  const int feetOnBottom = belowTop - character.height();
  // Below the dialog at its left; else beside it with the feet level with its bottom edge (right,
  // then left), then above it at its left.
  const std::vector<QPoint> places = {QPoint(dialog.left() + inset, belowTop),
                                      QPoint(dialog.left() + dialog.width(), feetOnBottom),
                                      QPoint(dialog.left() - character.width(), feetOnBottom),
                                      QPoint(dialog.left() + inset, dialog.top() - character.height())};
  return screen.isEmpty() ? places.front() : FirstFree(places, character, dialog, screen);
}

QString LastSyncText(const std::optional<LastSync>& last, const QString& timeFormat) {
  if (!last) return QStringLiteral("Not synced yet.");
  QString text = QStringLiteral("Last sync: %1. %2").arg(FormatDateTimeText(last->at, timeFormat), last->outcome);
  constexpr qsizetype kShownNotes = 10;
  for (qsizetype i = 0; i < last->notes.size() && i < kShownNotes; ++i) text += QStringLiteral("\n") + last->notes[i];
  if (last->notes.size() > kShownNotes)
    text +=
        QStringLiteral("\n... and %1 more (chimewise-cli sync lists them all)").arg(last->notes.size() - kShownNotes);
  return text;
}

}  // namespace chimewise

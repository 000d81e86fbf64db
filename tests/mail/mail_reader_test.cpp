// The mail reader over a Maildir, a pinned clock and a speaker that writes down what it is asked.
#include "mail/mail_reader.h"

#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/time_format.h"
#include "libs/mailbox/sample_messages.h"
#include "mail/email_window.h"
#include "mail/mail_account.h"
#include "mail/password_dialog.h"
#include "support/files.h"
#include "support/qt_app.h"
#include "support/qt_print.h"

#include <QFile>
#include <QInputDialog>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <map>

using namespace chimewise;
using namespace mailbox::testing;

namespace {
const QString kAt = "\\map=\".at.\"=\" at \"\\";

// A secret store that holds what it was given, or plays none at all.
class MemoryVault final : public PasswordVault {
 public:
  Lookup Find(const QString& server, const QString& user) override {
    const auto it = kept.find(server + '|' + user);
    return available ? Lookup{true, it == kept.end() ? std::nullopt : std::optional(it->second)} : Lookup{};
  }
  bool Keep(const QString& server, const QString& user, const QString& password) override {
    return available && (kept[server + '|' + user] = password, true);
  }
  bool available = true;
  std::map<QString, QString> kept;
};

// Keeps each question's answer for the test to give later, as the window gives it.
class LaterAsker final : public PasswordAsker {
 public:
  void AskPassword(const QString& server, const QString& user, Answer answered) override {
    EXPECT_EQ(server + "|" + user, "imaps://mail.example.org|alice");
    asked.push_back(std::move(answered));
  }
  std::vector<Answer> asked;
};

// The Reminder Viewer, open or not.
class Viewer final : public NoWindows {
 public:
  bool ViewerOpen() const override { return open; }
  bool open = false;
};

// The rows the window would show.
class RowList final : public MailList {
 public:
  void Load() override { ++loads; }
  int rowCount() const override { return static_cast<int>(rows.size()); }
  void AddRow(const MailRow& row) override { rows.push_back(row); }
  void PlaceAndShow() override { ++shown; }
  std::vector<MailRow> rows;
  int loads = 0, shown = 0;
};

class MailReaderTest : public ::testing::Test {
 protected:
  MailReaderTest() {
    settings.write(settings::Mailbox, md.folder());
    speaker.showAndHide = true;
    reader = std::make_unique<MailReader>(state, settings, clock, speaker, viewer, account,
                                          MessageFiles(dir.filePath("NewMail")));
    reader->setSynchronous(true);
    reader->setList(&rows);
    QObject::connect(reader.get(), &MailReader::stopCharacter, [this] { ++stops; });
  }
  // Three unread (one of them not a message) and one read.
  void DeliverFour() {
    md.Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46));
    md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
    md.Deliver(MalformedMessage(), Berlin(2026, 12, 6, 8, 1));
    md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6), "");
  }
  QStringList said() const {
    QStringList out;
    for (const QString& l : speaker.lines)
      if (l.startsWith("Speak: ")) out << l.mid(7);
    return out;
  }

  QTemporaryDir dir;
  mailbox::testing::Maildir md{dir.filePath("Maildir")};
  SharedState state;
  SettingsStore settings{dir.filePath("settings.ini")};
  ManualClock clock{QDateTime(QDate(2026, 12, 6), QTime(10, 41, 37))};
  TranscriptSpeaker speaker;
  Viewer viewer;
  MemoryVault vault;
  LaterAsker asker;
  MailAccount account{settings, vault, &asker};
  RowList rows;
  int stops = 0;
  std::unique_ptr<MailReader> reader;
};

}  // namespace

TEST_F(MailReaderTest, OnRequestListsEveryUnreadMessageWithItsFileAndMarksOnlyTheReadable) {
  DeliverFour();
  reader->CheckNewMail(false, true);
  EXPECT_EQ(said(), QStringList{"You have 3 unread messages."});
  EXPECT_GE(stops, 1);
  ASSERT_EQ(rows.rows.size(), 3u);
  EXPECT_EQ(rows.loads + rows.shown, 2);
  EXPECT_EQ(rows.rows[0].text, QString::fromUtf8("Grüße aus Köln"));
  EXPECT_TRUE(rows.rows[1].unreadable);
  EXPECT_EQ(rows.rows[2].text, "Order");
  // Listing marks nothing: a message nobody heard or opened stays unread.
  EXPECT_EQ(md.Files("cur").filter(":2,S").size(), 1);
  EXPECT_EQ(md.Files("new").size(), 2);

  // The window reads a row as it was written (When, Subject, Body; no Who).
  speaker.lines.clear();
  reader->ReadMyMail(rows.rows[0]);
  EXPECT_EQ(said(), (QStringList{"Message sent Friday" + kAt + "3:45 in the Afternoon.",
                                 "Subject: " + QString::fromUtf8("Grüße aus Köln."),
                                 QString::fromUtf8("Message Reads: Café at noon tomorrow.")}));
  // Opened, and so read ("MarkRead" is on by default).
  EXPECT_EQ(md.Files("cur").filter(":2,S").size(), 2);

  // Changing the options before the click does not shift the lines.
  settings.write(settings::MailWho, "1");
  speaker.lines.clear();
  reader->ReadMyMail(rows.rows[2]);
  EXPECT_EQ(said()[1], "Subject: Order.");
  EXPECT_EQ(md.Files("cur").filter(":2,S").size(), 3);
  EXPECT_EQ(md.Files("new").size(), 1);  // the one that could not be read stays unread

  reader->ListClosed(rows.rows);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(QFile::exists(reader->files().path(i)));
  // A request on request leaves "LastCheck" as it was.
  EXPECT_EQ(settings.read(settings::LastCheck), "1980-01-01 00:01:00");
}

TEST_F(MailReaderTest, AutomaticReadsOnlyWhatCameSinceTheLastCheckAndNeverMarks) {
  DeliverFour();
  settings.write(settings::LastCheck, FormatDateText(Berlin(2026, 12, 5, 0, 0)));
  settings.write(settings::AutoBody, "1");
  reader->CheckNewMail(true, false);
  EXPECT_EQ(said(),
            (QStringList{"You have 2 unread messages.", "I could not read a message because it is not a mail message.",
                         "Message sent today " + kAt + "8:05 in the Morning.", "Subject: Order.",
                         QString::fromUtf8("Message Reads: Die Größe passt.")}));
  EXPECT_TRUE(rows.rows.empty());
  EXPECT_EQ(settings.read(settings::LastCheck), FormatDateText(Berlin(2026, 12, 6, 8, 6)));
  EXPECT_EQ(md.Files("new").size(), 2);
  EXPECT_EQ(md.Files("cur").filter(":2,S").size(), 1);

  // Nothing new since: quiet, and "LastCheck" stays.
  speaker.lines.clear();
  reader->CheckNewMail(true, false);
  EXPECT_TRUE(speaker.lines.isEmpty());
  // Read all: every unread message again; the character hides again, not while the viewer is open.
  settings.write(settings::ReadAll, "1");
  speaker.hide();
  speaker.lines.clear();
  reader->CheckNewMail(true, false);
  EXPECT_EQ(said().first(), "You have 3 unread messages.");
  EXPECT_EQ(speaker.lines.first(), "Show");
  EXPECT_EQ(speaker.lines.last(), "Hide");
  speaker.hide();
  speaker.lines.clear();
  viewer.open = true;
  reader->CheckNewMail(true, false);
  EXPECT_NE(speaker.lines.last(), "Hide");
}

// Unreachable: said on request, else quiet, tried at the next interval; nothing unread: sorry, no list.
TEST_F(MailReaderTest, UnreachableOrEmptyMailboxOnRequestSaysWhyAutomaticStaysQuiet) {
  settings.write(settings::Mailbox, dir.filePath("gone"));
  settings.write(settings::CheckMail, "1");
  reader->CheckNewMail(false, true);
  EXPECT_EQ(said(), QStringList{"Sorry, I could not reach your mailbox because the folder " + dir.filePath("gone") +
                                " does not exist."});
  speaker.lines.clear();
  reader->CheckNewMail(false, false);
  EXPECT_TRUE(speaker.lines.isEmpty());
  EXPECT_EQ(reader->nextCheck(), QDateTime(QDate(2026, 12, 6), QTime(10, 51)));
  EXPECT_EQ(settings.read(settings::LastCheck), "1980-01-01 00:01:00");
  settings.write(settings::Mailbox, md.folder());
  md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31), "S");
  reader->CheckNewMail(false, true);
  EXPECT_EQ(said(), QStringList{"Sorry, there is no new mail."});
  EXPECT_EQ(rows.loads, 0);
}

// With "MarkRead" off nothing is marked; a second request adds rows after the listed ones.
TEST_F(MailReaderTest, MarkReadOffLeavesEverythingUnreadAndASecondRequestAddsRows) {
  DeliverFour();
  settings.write(settings::MarkRead, "0");
  reader->CheckNewMail(false, true);
  EXPECT_EQ(md.Files("new").size(), 2);
  EXPECT_EQ(md.Files("cur").filter(":2,S").size(), 1);
  md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 7));
  reader->CheckNewMail(false, true);
  ASSERT_EQ(rows.rows.size(), 7u);
  EXPECT_EQ(rows.rows[6].fileIndex, 6);
}

TEST_F(MailReaderTest, AMessageFileThatCannotBeWrittenIsSaidWhenItsRowIsClicked) {
  md.Deliver(Base64Latin1Message(), Berlin(2026, 12, 6, 8, 6));
  testsupport::Touch(dir.filePath("NewMail"), "a file where the folder should be");
  reader->CheckNewMail(false, true);
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0].text, "Order");
  speaker.lines.clear();
  reader->ReadMyMail(rows.rows[0]);
  EXPECT_TRUE(said().join('|').startsWith("I could not keep this message for the list because "));
  EXPECT_EQ(md.Files("new").size(), 1);  // not marked read: it was never heard
}

TEST_F(MailReaderTest, InTheBackgroundTheAnswerComesLaterAndARequestMeanwhileFollows) {
  testsupport::EnsureQtApp();
  DeliverFour();
  reader->setSynchronous(false);
  QSignalSpy finished(reader.get(), &MailReader::checkFinished);
  reader->CheckNewMail(true, false);
  EXPECT_TRUE(reader->busy());
  reader->CheckNewMail(false, true);  // follows the running one
  EXPECT_TRUE(speaker.lines.isEmpty());
  while (finished.size() < 2) ASSERT_TRUE(finished.wait(20000));
  EXPECT_EQ(said().first(), "You have 3 unread messages.");
  EXPECT_EQ(rows.rows.size(), 3u);
}

// Asked once into the store, never by an automatic check; refused: asked anew; no store: in memory.
TEST_F(MailReaderTest, ImapPasswordFromTheStoreOrAskedOncePerSession) {
  std::vector<PasswordAsker::Answer>& asked = asker.asked;
  const auto asking = [&](MailAccount& a) {
    auto chosen = std::make_shared<std::optional<bool>>();
    a.ChooseAsking(true, {}, [chosen](MailboxChoice c) { *chosen = c.mailbox != nullptr; });
    if (!chosen->has_value() && asked.size() > 0) asked.back()(QString("pw"));
    return chosen->value_or(false);
  };
  settings.write(settings::Mailbox, "imaps://mail.example.org");
  EXPECT_EQ(account.Choose().problem, "no user name is set up for it");
  settings.write(settings::MailUser, "alice");
  EXPECT_EQ(account.Choose().problem, "no password is known for it");
  EXPECT_TRUE(asking(account));
  EXPECT_EQ(vault.kept["imaps://mail.example.org|alice"], "pw");
  EXPECT_TRUE(account.Choose().mailbox);
  EXPECT_EQ(asked.size(), 1u);
  account.PasswordRefused();
  EXPECT_FALSE(account.Choose().mailbox);
  EXPECT_TRUE(asking(account));
  EXPECT_EQ(asked.size(), 2u);
  vault.available = false;
  vault.kept.clear();
  MailAccount other(settings, vault, &asker);
  EXPECT_TRUE(asking(other));
  EXPECT_TRUE(asking(other));
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_TRUE(vault.kept.empty());
  // An answer that comes after the account is gone is dropped, not used.
  {
    MailAccount gone(settings, vault, &asker);
    gone.ChooseAsking(true, {}, [](MailboxChoice) { ADD_FAILURE() << "answered after the account went"; });
  }
  asked.back()(QString("late"));
}

// The window answers what was typed (nothing typed too), nullopt on Cancel; one still open when
// the program ends closes without an answer.
TEST(PasswordWindowTest, AnswersWhatWasTypedNothingOnCancelAndClosesWithoutAnswerAtTheEnd) {
  testsupport::EnsureQtApp();
  std::vector<std::optional<QString>> answers;
  PasswordWindow window;
  const auto ask = [&](const QString& typed) {
    window.AskPassword("imaps://mail.example.org", "alice", [&](std::optional<QString> p) { answers.push_back(p); });
    window.current()->setTextValue(typed);
    return window.current();
  };
  ask("pw")->accept();
  ask("")->accept();
  ask("pw")->reject();
  const QPointer<QInputDialog> left = ask("pw");
  window.CloseWithoutAnswer();
  EXPECT_TRUE(left.isNull());
  EXPECT_EQ(answers, (std::vector<std::optional<QString>>{"pw", "", std::nullopt}));
}

// The window shows what a message's lines show, never the speech tags; opening a row marks it read;
// Escape closes the window and its files go. Its Options is disabled when nothing opens the options.
TEST_F(MailReaderTest, TheWindowShowsTheTextOfTheMarkupAndEscapeClosesIt) {
  testsupport::EnsureQtApp();
  md.Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46));
  EmailWindows windows(speaker, *reader);
  reader->CheckNewMail(false, true);
  EmailWindow* window = windows.current();
  ASSERT_TRUE(window && window->isVisible() && window->rowCount() == 1);
  EXPECT_FALSE(window->optionsButton()->isEnabled());  // nothing here opens the options
  EXPECT_EQ(md.Files("new").size(), 1);
  window->ReadRow(0);
  EXPECT_EQ(window->messageView()->toPlainText().trimmed().toStdString(),
            "Friday at 3:45 in the Afternoon.\nGrüße aus Köln\nCafé at noon tomorrow.");
  EXPECT_EQ(md.Files("new").size(), 0);
  QTest::keyClick(window->listWidget(), Qt::Key_Escape);
  EXPECT_FALSE(windows.current() && windows.current()->isVisible());
  EXPECT_FALSE(QFile::exists(reader->files().path(0)));
}

#include "mail/email_window.h"

#include "mail/mail_fixture.h"
#include "support/files.h"
#include "support/qt_app.h"

#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace chimewise;
using namespace chimewise::testing;
using namespace mailbox::testing;

TEST(EmailWindowPosition, RightOfTheCharacterWhenItFitsElseLeftAndNeverBelowTheScreen) {
  const QRect screen(0, 0, 1000, 800);
  EXPECT_EQ(EmailWindowPosition(QRect(100, 100, 128, 128), QSize(300, 200), screen), QPoint(228, 100));
  EXPECT_EQ(EmailWindowPosition(QRect(700, 100, 128, 128), QSize(300, 200), screen), QPoint(400, 100));
  EXPECT_EQ(EmailWindowPosition(QRect(100, 700, 128, 128), QSize(300, 200), screen), QPoint(228, 600));
  EXPECT_EQ(EmailWindowPosition(QRect(10, 10, 128, 128), QSize(990, 200), screen), QPoint(0, 10));
}

class EmailWindowTest : public MailFixture {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    windows = std::make_unique<EmailWindows>(state, speaker, *reader);
    windows->characterGeometry = [] { return QRect(40, 60, 128, 128); };
    windows->showOptions = [this] { ++optionsShown; };
    reader->list = [this]() -> MailList* { return windows->list(); };
    md.Deliver(EncodedWordsMessage(), Berlin(2026, 12, 4, 15, 46));
    md.Deliver(AlternativeMessage(), Berlin(2026, 12, 5, 19, 31));
    md.Deliver(HtmlOnlyMessage(), Berlin(2026, 12, 6, 9, 0));
  }
  std::unique_ptr<EmailWindows> windows;
  int optionsShown = 0;
};

TEST_F(EmailWindowTest, ClickReadsTheRowCloseDeletesTheFiles) {
  reader->CheckNewMail(false, true);
  EmailWindow* w = windows->current();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  ASSERT_EQ(w->listWidget()->count(), 3);
  EXPECT_EQ(w->listWidget()->item(1)->text(), "Lunch");
  EXPECT_EQ(w->pos(), QPoint(168, 60));  // right of the character

  const QString shot = qEnvironmentVariable("CHIMEWISE_BINARY_DIR") + "/email_window.png";
  EXPECT_TRUE(w->grab().save(shot)) << shot.toStdString();

  speaker.lines.clear();
  QListWidget* list = w->listWidget();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
  EXPECT_EQ(speaker.lines.filter("Speak: ").join('|'),
            "Speak: Message sent yesterday \\map=\".at.\"=\" at \"\\7:30 in the Evening.|Speak: Subject: Lunch.|"
            "Speak: Message Reads: Plain words.");

  speaker.lines.clear();
  QTest::mouseClick(w->optionsButton(), Qt::LeftButton);
  EXPECT_EQ(optionsShown, 1);
  EXPECT_EQ(speaker.lines.filter("Speak: "),
            QStringList{"Speak: Changes will not take effect until the next time you get email."});

  // Hidden, a click reads nothing.
  w->hide();
  speaker.lines.clear();
  w->ReadRow(0);
  EXPECT_TRUE(speaker.lines.filter("Speak: ").isEmpty());
  w->show();

  testsupport::Touch(reader->files().path(3), "not one of the window's");
  QTest::mouseClick(w->closeButton(), Qt::LeftButton);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(QFile::exists(reader->files().path(i))) << i;
  EXPECT_TRUE(QFile::exists(reader->files().path(3)));
}

TEST_F(EmailWindowTest, TheCharacterGoesBackIntoHidingWhenTheWindowCloses) {
  speaker.hide();
  reader->CheckNewMail(false, true);
  EmailWindow* w = windows->current();
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(speaker.visible());
  speaker.lines.clear();
  w->close();
  EXPECT_EQ(speaker.lines.last(), "Hide");
}

TEST_F(EmailWindowTest, ALongMessageIsReadInPartAndShownWhole) {
  QString body;
  for (int i = 0; body.size() < 6000; ++i) body += QStringLiteral("sentence %1 of a long letter. ").arg(i);
  md.Deliver("From: Ann <ann@example.net>\r\nSubject: Long\r\nDate: Sun, 6 Dec 2026 09:00:00 +0100\r\n\r\n" +
                 body.toUtf8() + "\r\n",
             Berlin(2026, 12, 6, 9, 1));
  reader->CheckNewMail(false, true);
  EmailWindow* w = windows->current();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  ASSERT_EQ(w->listWidget()->count(), 4);
  speaker.lines.clear();
  w->ReadRow(3);
  const QStringList said = speaker.lines.filter("Speak: Message Reads: ");
  ASSERT_EQ(said.size(), 1);
  EXPECT_TRUE(said[0].endsWith(" and more.")) << said[0].right(60).toStdString();
  EXPECT_LT(said[0].size(), 2100);
  EXPECT_TRUE(w->messageView()->toPlainText().contains(body.trimmed()));
  w->close();
}

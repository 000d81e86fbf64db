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

// A click reads the row as the rule says, the message is shown whole, Options is passed on, a hidden
// window reads nothing, closing deletes the window's files (only those) and hides the character again.
TEST_F(EmailWindowTest, ClickReadsTheRowCloseDeletesTheFilesAndHidesTheCharacter) {
  speaker.hide();
  reader->CheckNewMail(false, true);
  EmailWindow* w = windows->current();
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
  EXPECT_TRUE(speaker.visible());
  QListWidget* list = w->listWidget();
  ASSERT_EQ(list->count(), 3);
  EXPECT_EQ(w->pos(), QPoint(168, 60));
  speaker.lines.clear();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
  EXPECT_EQ(speaker.lines.filter("Speak: ").join('|'),
            "Speak: Message sent yesterday \\map=\".at.\"=\" at \"\\7:30 in the Evening.|Speak: Subject: Lunch.|"
            "Speak: Message Reads: Plain words.");
  EXPECT_TRUE(w->messageView()->toPlainText().contains("Plain words."));
  QTest::mouseClick(w->optionsButton(), Qt::LeftButton);
  EXPECT_EQ(optionsShown, 1);
  w->hide();
  speaker.lines.clear();
  w->ReadRow(0);
  EXPECT_TRUE(speaker.lines.filter("Speak: ").isEmpty());
  w->show();
  testsupport::Touch(reader->files().path(3), "not one of the window's");
  QTest::mouseClick(w->closeButton(), Qt::LeftButton);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(QFile::exists(reader->files().path(i))) << i;
  EXPECT_TRUE(QFile::exists(reader->files().path(3)));
  EXPECT_EQ(speaker.lines.last(), "Hide");
}

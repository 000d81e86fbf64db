// The program's boxes: none holds the caller up, each answer comes once its box has closed, and a
// process that ends with boxes up waits for the last.
#include "shell/qt_prompter.h"

#include "support/qt_app.h"

#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

QMessageBox* openBox(const QString& text) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible() && box->text() == text) return box;
  return nullptr;
}

TEST(QtPrompterTest, BoxesHoldNothingUpAndTheLastClosedEndsTheWait) {
  testsupport::EnsureQtApp();
  QtPrompter prompter(true);
  bool noticed = false, ended = false;
  std::optional<bool> answer;
  prompter.notice("Told", {}, PromptIcon::Information, [&] { noticed = true; });
  prompter.ask("Asked?", {}, PromptIcon::Question, [&](bool yes) { answer = yes; });
  prompter.whenNoneOpen([&] { ended = true; });
  QApplication::processEvents();
  EXPECT_EQ(prompter.openBoxes(), 2);
  EXPECT_FALSE(noticed || answer || ended);
  ASSERT_TRUE(openBox("Told") && openBox("Asked?"));
  openBox("Told")->button(QMessageBox::Ok)->click();
  QApplication::processEvents();
  EXPECT_TRUE(noticed);
  EXPECT_FALSE(ended);
  openBox("Asked?")->button(QMessageBox::Yes)->click();
  QApplication::processEvents();
  EXPECT_EQ(answer, true);
  EXPECT_TRUE(ended);
}

}  // namespace

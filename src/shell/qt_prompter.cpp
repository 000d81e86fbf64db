#include "shell/qt_prompter.h"

#include "core/wait_scope.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

namespace chimewise {

namespace {
QMessageBox::Icon toQt(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Critical: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::None: break;
  }
  return QMessageBox::NoIcon;
}

void toStderr(const QString& title, const QString& text, const char* answer) {
  std::fprintf(stderr, "%s: %s%s\n", qPrintable(title.isEmpty() ? kProgramTitle : title), qPrintable(text), answer);
  std::fflush(stderr);
}
}  // namespace

bool QtPrompter::headless() {
  const QString p = QGuiApplication::platformName();
  return p == QStringLiteral("offscreen") || p == QStringLiteral("minimal");
}

void QtPrompter::message(const QString& text, const QString& title, PromptIcon icon) {
  if (headless()) return toStderr(title, text, "");
  QMessageBox box(toQt(icon), title.isEmpty() ? kProgramTitle : title, text, QMessageBox::Ok);
  WaitScope wait;
  box.exec();
}

void QtPrompter::notice(const QString& text, const QString& title, PromptIcon icon) {
  if (headless()) return toStderr(title, text, "");
  auto* box = new QMessageBox(toQt(icon), title.isEmpty() ? kProgramTitle : title, text, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
}

void QtPrompter::ask(const QString& text, const QString& title, PromptIcon icon, std::function<void(bool)> answered) {
  if (headless()) {
    toStderr(title, text, " [answered No]");
    QTimer::singleShot(0, qApp, [answered = std::move(answered)] { answered(false); });
    return;
  }
  // Modal to the whole program, yet without a loop of its own: the answer arrives as a signal.
  auto* box =
      new QMessageBox(toQt(icon), title.isEmpty() ? kProgramTitle : title, text, QMessageBox::Yes | QMessageBox::No);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  QObject::connect(box, &QMessageBox::finished, box,
                   [answered = std::move(answered)](int result) { answered(result == QMessageBox::Yes); });
  box->show();
}

bool QtPrompter::askYesNo(const QString& text, const QString& title, PromptIcon icon) {
  if (headless()) {
    toStderr(title, text, " [answered No]");
    return false;
  }
  QMessageBox box(toQt(icon), title.isEmpty() ? kProgramTitle : title, text, QMessageBox::Yes | QMessageBox::No);
  WaitScope wait;
  return box.exec() == QMessageBox::Yes;
}

}  // namespace chimewise

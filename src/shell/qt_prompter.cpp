#include "shell/qt_prompter.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <utility>

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

void QtPrompter::later(std::function<void()> step) {
  if (step) QTimer::singleShot(0, &m_context, std::move(step));
}

void QtPrompter::show(QMessageBox* box, std::function<void(int)> closed) {
  box->setAttribute(Qt::WA_DeleteOnClose);
  ++m_open;
  QObject::connect(box, &QMessageBox::finished, &m_context, [this, closed = std::move(closed)](int result) {
    --m_open;
    if (closed) closed(result);
    if (m_open == 0 && m_whenNoneOpen) later(std::exchange(m_whenNoneOpen, nullptr));
  });
  box->show();
}

void QtPrompter::notice(const QString& text, const QString& title, PromptIcon icon, std::function<void()> closed) {
  if (!m_boxes) {
    toStderr(title, text, "");
    return later(std::move(closed));
  }
  auto* box = new QMessageBox(toQt(icon), title.isEmpty() ? kProgramTitle : title, text, QMessageBox::Ok);
  box->setWindowModality(Qt::NonModal);
  show(box, [closed = std::move(closed)](int) {
    if (closed) closed();
  });
}

void QtPrompter::ask(const QString& text, const QString& title, PromptIcon icon, std::function<void(bool)> answered) {
  if (!m_boxes) {
    toStderr(title, text, " [answered No]");
    return later([answered = std::move(answered)] { answered(false); });
  }
  // Modal to the whole program, yet without a loop of its own: the answer arrives as a signal.
  auto* box =
      new QMessageBox(toQt(icon), title.isEmpty() ? kProgramTitle : title, text, QMessageBox::Yes | QMessageBox::No);
  box->setWindowModality(Qt::ApplicationModal);
  show(box, [answered = std::move(answered)](int result) { answered(result == QMessageBox::Yes); });
}

void QtPrompter::whenNoneOpen(std::function<void()> then) {
  m_whenNoneOpen = std::move(then);
  if (m_open == 0) later(std::exchange(m_whenNoneOpen, nullptr));
}

}  // namespace chimewise

#pragma once
// What a keyboard user meets in a window: access keys of its controls and menus, the order Tab
// visits its controls in, and room for every caption.

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QWidget>

#include "support/caption_keys.h"

#include <gtest/gtest.h>

#include <vector>

namespace chimewise::testsupport {

inline QString CaptionOf(const QWidget* w) {
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->buddy() ? l->text() : QString();
  return {};
}

// Every button, check or radio box and label with a buddy on each of `pages` (with the controls in
// `everywhere`, such as a dialog's buttons) has a key of its own; `exempt` need none (OK, Cancel).
inline AccessKeyProblems CheckAccessKeys(const QList<QWidget*>& pages, const QList<QWidget*>& everywhere,
                                         const QList<QWidget*>& exempt = {}) {
  AccessKeyProblems problems;
  for (QWidget* page : pages) {
    QStringList captions;
    for (QWidget* w : page->findChildren<QWidget*>() + everywhere)
      if (!exempt.contains(w)) captions << CaptionOf(w);
    CheckCaptionKeys(captions, problems);
  }
  return problems;
}

// The entries of a menu (separators left out) each have a key of their own.
inline AccessKeyProblems CheckMenuKeys(const QMenu* menu) {
  QStringList captions;
  for (const QAction* a : menu->actions())
    if (!a->isSeparator()) captions << (a->text().isEmpty() ? QStringLiteral("(no caption)") : a->text());
  return CheckCaptionKeys(captions);
}

// Starting on the first of `order`, Tab visits the others in turn; each step landing elsewhere is told.
inline QStringList TabOrderProblems(const std::vector<QWidget*>& order) {
  QStringList problems;
  if (order.empty()) return problems;
  order.front()->setFocus();
  QApplication::processEvents();
  for (std::size_t i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* at = QApplication::focusWidget();
    if (at != order[i])
      problems << QStringLiteral("step %1: %2 %3 instead of %4 %5")
                      .arg(i)
                      .arg(at ? at->metaObject()->className() : "nothing", at ? at->objectName() : QString(),
                           order[i]->metaObject()->className(), order[i]->objectName());
  }
  return problems;
}

// Controls under `root` cut short: a caption narrower than its minimum, a spin or combo box narrower
// than its natural width, or a control reaching outside `root`.
inline QStringList CutShort(QWidget* root) {
  QStringList problems;
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisible() || w->isWindow()) continue;
    const QString name = QString::fromLatin1(w->metaObject()->className()) + u' ' + w->objectName();
    if (!root->rect().contains(QRect(w->mapTo(root, QPoint(0, 0)), w->size())))
      problems << name + QStringLiteral(" reaches outside");
    const bool caption = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w);
    const bool value = qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w);
    const int needed = caption ? w->minimumSizeHint().width() : value ? w->sizeHint().width() : 0;
    if (w->width() < needed) problems << QStringLiteral("%1 is %2 wide of %3").arg(name).arg(w->width()).arg(needed);
  }
  return problems;
}

}  // namespace chimewise::testsupport

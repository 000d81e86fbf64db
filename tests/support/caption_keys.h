#pragma once
// The access keys of a list of captions (a menu's entries, one page's controls): every caption has
// a key of its own (a shared key only moves between them). Needs no widgets.

#include <QKeySequence>
#include <QMap>
#include <QStringList>

#include <gtest/gtest.h>

namespace chimewise::testsupport {

struct AccessKeyProblems {
  QStringList repeated;  // "Alt+X: first caption / second caption"
  QStringList missing;   // captions without a key
};

// Passes when `problems` is empty, and else lists them.
inline ::testing::AssertionResult NoProblems(const QStringList& problems) {
  if (problems.isEmpty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << problems.join(QStringLiteral("; ")).toStdString();
}
inline ::testing::AssertionResult NoProblems(const AccessKeyProblems& problems) {
  return NoProblems(problems.repeated + problems.missing);
}

// Adds the captions of one page or menu to `problems`; empty captions need no key.
inline void CheckCaptionKeys(const QStringList& captions, AccessKeyProblems& problems) {
  QMap<QString, QString> seen;
  for (const QString& caption : captions) {
    if (caption.isEmpty()) continue;
    const QString key = QKeySequence::mnemonic(caption).toString();
    if (key.isEmpty()) {
      problems.missing << caption;
      continue;
    }
    if (seen.contains(key))
      problems.repeated << key + QStringLiteral(": ") + seen[key] + QStringLiteral(" / ") + caption;
    seen.insert(key, caption);
  }
}

inline AccessKeyProblems CheckCaptionKeys(const QStringList& captions) {
  AccessKeyProblems problems;
  CheckCaptionKeys(captions, problems);
  return problems;
}

}  // namespace chimewise::testsupport

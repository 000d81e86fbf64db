#pragma once

#include "agent/commands.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace agent {

// A command's voice grammar: words, [optional parts] and (alternative | parts). Words match
// without regard to letter case; characters other than letters, digits and apostrophes
// separate words.
class VoiceGrammar {
 public:
  struct Node {
    enum Kind { Word, Sequence, Optional, Choice } kind = Sequence;
    QString word;                // Word, in lower case
    std::vector<Node> children;  // Sequence: in order; Optional: one Choice; Choice: alternatives
  };

  // Parses a grammar. An empty text gives an empty grammar (no voice entry); a malformed one
  // gives an invalid grammar with the fault in error().
  static VoiceGrammar parse(const QString& text);

  bool isEmpty() const { return m_valid && m_root.children.empty(); }
  bool isValid() const { return m_valid; }
  QString error() const { return m_error; }
  // The grammar as a JSGF rule expansion: "( stop | shut up ) [ talking ]".
  QString jsgf() const;
  // Whether the words (lower case) are one of the phrases the grammar allows.
  bool matches(const QStringList& words) const;
  // Every word the grammar uses, once each, in order of first use.
  QStringList vocabulary() const;
  // Every phrase the grammar allows (for tests and tools; grammars are small).
  QStringList phrases() const;

 private:
  Node m_root;
  bool m_valid = true;
  QString m_error;
};

// The voice grammars of a command list as one JSGF grammar whose public rule <command> is any
// command's phrase. Commands without a voice entry are left out; those with a malformed one
// too, with a line in `problems` each. Empty when no command has a usable voice entry.
QString commandsJsgf(const std::vector<Command>& commands, QStringList* problems = nullptr);

// The name of the first enabled command whose grammar allows the phrase, or an empty string.
QString commandForPhrase(const std::vector<Command>& commands, const QString& phrase);

}  // namespace agent

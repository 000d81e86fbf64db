#pragma once
// What went wrong in the program's logic, as a value: a kind its caller can act on and what is
// needed to word a message. The logic never shows a message itself; windows and the command-line
// tool word a Problem with Describe, so every caller says the same thing.

#include "core/prompts.h"

#include <QString>

namespace chimewise {

enum class ProblemKind {
  None,
  MissingFolder,           // subject: the folder
  MissingTable,            // subject: the folder the table should be in
  Engine,                  // detail: the engine's description; number: its error number
  InvalidDate,             // a date picker holds no date
  InvalidTime,             // a time picker holds no time
  EmptyActivity,           // the activity line is empty (or only blanks)
  TextTooLong,             // subject: the text; number: the most characters that fit
  CharactersNotSupported,  // subject: the characters the table cannot hold, separated by blanks
  NoSuchReminder,          // number: the record asked for
  // The table's header claimed another record count than the file holds: every whole record was
  // read all the same. number: records found; detail: the count the header claimed.
  TableCountRepaired,
  // Another user (a program, or a work area of this one) held the reminder table or a record of it
  // past the time waited for it; nothing was read or changed. detail: the engine's description.
  TableBusy,
  // Another program's index (a FoxPro CDX) stood where the reminder table's belongs and was
  // replaced by a rebuild. subject: the index file's name.
  ForeignIndexReplaced,
  // A file could not be read, written or started. subject: the file (or a line of it), or empty
  // when detail says it all; detail: why.
  FileFault,
  // A character file could not be loaded (missing, unreadable or damaged). detail: the loader's
  // message, which names the file and its fault.
  CharacterNotLoaded,
  // A repeat rule that cannot be followed; nothing was saved. subject: the part not understood (or
  // why the rule has no occurrence); detail: the rule as given.
  RepeatRuleNotUnderstood,
};

struct [[nodiscard]] Problem {
  ProblemKind kind = ProblemKind::None;
  QString subject;
  QString detail;
  long long number = 0;

  bool ok() const { return kind == ProblemKind::None; }
  bool operator==(const Problem&) const = default;
};

struct Wording {
  QString text;
  QString title;  // empty: the program's title
  PromptIcon icon = PromptIcon::None;
};

// The message for a problem, in the program's own words.
Wording Describe(const Problem& problem);

// Shows problems through a Prompter, each only once while it lasts: a routine that runs on every
// tick and keeps meeting the same trouble tells the user once, and again only after it has
// worked in between (an ok Problem clears the memory) or met another trouble.
class ProblemReporter {
 public:
  explicit ProblemReporter(Prompter& prompter) : m_prompter(prompter) {}
  void Report(const Problem& problem);

 private:
  Prompter& m_prompter;
  Problem m_last;
};

}  // namespace chimewise

#include "core/problem.h"

namespace chimewise {

Wording Describe(const Problem& p) {
  switch (p.kind) {
    case ProblemKind::None: return {};
    case ProblemKind::MissingFolder: return {QStringLiteral("Missing the ") + p.subject + QStringLiteral(" directory")};
    case ProblemKind::MissingTable:
      return {QStringLiteral("Missing the ") + p.subject + QStringLiteral("/calendar.dbf file")};
    case ProblemKind::Engine:
      return {QStringLiteral("Error ") + p.detail + QStringLiteral(" #") + QString::number(p.number)};
    case ProblemKind::InvalidDate:
      return {QStringLiteral("Invalid Date Entered"), QStringLiteral("Enter Valid Date"), PromptIcon::Information};
    case ProblemKind::RepeatRuleNotUnderstood:
      return {QStringLiteral("The repeat rule \"%1\" cannot be followed: %2.\nThe reminder was not saved.")
                  .arg(p.detail, p.subject),
              QStringLiteral("Repeat Rule Not Understood"), PromptIcon::Information};
    case ProblemKind::InvalidTime:
      return {QStringLiteral("Invalid Time Entered"), QStringLiteral("Enter Valid Time"), PromptIcon::Information};
    case ProblemKind::EmptyActivity:
      return {QStringLiteral("No Activity Entered: please type what you want to be reminded of."),
              QStringLiteral("Enter Activity"), PromptIcon::Information};
    case ProblemKind::TextTooLong:
      return {QStringLiteral("The text \"%1\" is too long: at most %2 characters fit.")
                  .arg(p.subject.left(40) + (p.subject.size() > 40 ? QStringLiteral("...") : QString()))
                  .arg(p.number),
              QStringLiteral("Text Too Long"), PromptIcon::Information};
    case ProblemKind::CharactersNotSupported:
      return {QStringLiteral("The reminder table cannot hold these characters: %1\nPlease write them another way.")
                  .arg(p.subject),
              QStringLiteral("Characters Not Supported"), PromptIcon::Information};
    case ProblemKind::TableCountRepaired:
      return {QStringLiteral("The reminder table was damaged: its header said it holds %1 reminders, but the file "
                             "holds %2. All %2 were read and none is lost; the next change stores the right count.")
                  .arg(p.detail)
                  .arg(p.number),
              QStringLiteral("Reminder Table Repaired"), PromptIcon::Warning};
    case ProblemKind::ForeignIndexReplaced:
      return {p.subject + QStringLiteral(": the index was made by another program and has been rebuilt"), QString(),
              PromptIcon::Information};
    case ProblemKind::TableBusy:
      return {QStringLiteral("Another program is using the reminder table, so it cannot be read or changed just "
                             "now.\n(%1)")
                  .arg(p.detail),
              QStringLiteral("Reminder Table in Use"), PromptIcon::Information};
    case ProblemKind::FileFault: return {p.subject.isEmpty() ? p.detail : p.subject + QStringLiteral(": ") + p.detail};
    case ProblemKind::CharacterNotLoaded:
      return {p.detail, QStringLiteral("Damaged Character"), PromptIcon::Information};
    case ProblemKind::NoSuchReminder: return {QStringLiteral("There is no reminder number %1.").arg(p.number)};
  }
  return {};
}

void ProblemReporter::Report(const Problem& problem) {
  if (problem == m_last) return;
  m_last = problem;
  if (problem.ok()) return;
  const Wording w = Describe(problem);
  m_prompter.notice(w.text, w.title, w.icon);
}

}  // namespace chimewise

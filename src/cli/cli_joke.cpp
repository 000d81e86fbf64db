#include "cli/cli_joke.h"

#include "character/transcript_speaker.h"
#include "core/problem.h"
#include "core/settings_store.h"
#include "extras/jokes.h"

namespace chimewise {

namespace {

// One request per line, escaped as the other commands print them.
QString oneLine(QString text) {
  return text.replace(u'\\', QStringLiteral("\\\\"))
      .replace(u'\n', QStringLiteral("\\n"))
      .replace(u'\r', QStringLiteral("\\r"))
      .replace(u'\t', QStringLiteral("\\t"));
}

}  // namespace

int CliJoke(xbase::Engine& engine, SettingsStore& settings, Prompter& prompter, const QString& appFolder,
            QTextStream& out, QTextStream& err) {
  TranscriptSpeaker speaker;
  const JokeOutcome told = TellJokeOrQuote(engine, settings, speaker, appFolder, kJokesTable);
  if (!told.problem.ok()) {
    const Wording w = Describe(told.problem);
    prompter.notice(w.text, w.title, w.icon);
    return 1;
  }
  if (!told.told) {
    err << (FindJokesTable(appFolder, kJokesTable).isEmpty()
                ? QStringLiteral("There is no jokes table (%1.dbf) in %2.").arg(kJokesTable, appFolder)
                : QStringLiteral("The jokes table holds no records."))
        << Qt::endl;
    return 1;
  }
  for (const QString& line : speaker.lines) out << oneLine(line) << Qt::endl;
  if (!told.settingsError.isEmpty()) {
    err << QStringLiteral("The next joke could not be remembered: %1").arg(told.settingsError) << Qt::endl;
    return 1;
  }
  return 0;
}

}  // namespace chimewise

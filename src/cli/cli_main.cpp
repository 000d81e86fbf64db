// chimewise-cli: drives the reminder logic of Olm Chimewise from the command line.

#include "cli/cli.h"
#include "cli/terminal_text.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char* argv[]) {
  // The words as given, before anything reads them in the locale's encoding: text is UTF-8 in and
  // out, whatever the locale says.
  QStringList words;
  const std::optional<QString> notUtf8 = chimewise::ReadArguments(argc, argv, &words);
  QCoreApplication app(argc, argv);
  // The same application name as the program, so both find the same folders and settings.
  QCoreApplication::setApplicationName(QStringLiteral("Olm Chimewise"));
  QTextStream out(stdout);
  QTextStream err(stderr);
  out.setEncoding(QStringConverter::Utf8);
  err.setEncoding(QStringConverter::Utf8);
  if (notUtf8) {
    err << "chimewise-cli: " << *notUtf8 << Qt::endl;
    return 2;
  }
  const int code = chimewise::RunCli(words, out, err);
  out.flush();
  err.flush();
  return code;
}

// chimewise-cli: drives the reminder logic of Olm Chimewise from the command line.

#include "cli/cli.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  // The same application name as the program, so both find the same folders and settings.
  QCoreApplication::setApplicationName(QStringLiteral("Olm Chimewise"));
  QTextStream out(stdout);
  QTextStream err(stderr);
  const int code = chimewise::RunCli(QCoreApplication::arguments().mid(1), out, err);
  out.flush();
  err.flush();
  return code;
}

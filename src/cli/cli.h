#pragma once
// chimewise-cli: the reminder logic without the windows, for scripts, tests and people.

#include <QStringList>
#include <QTextStream>

namespace chimewise {

// Runs one command; the arguments exclude the program name. Returns the exit code: 0 done,
// 1 the command could not be carried out, 2 the arguments were wrong (nothing was written).
int RunCli(const QStringList& arguments, QTextStream& out, QTextStream& err);

}  // namespace chimewise

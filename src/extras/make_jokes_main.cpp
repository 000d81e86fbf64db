// make-jokes SOURCE TABLE: writes the jokes table (and its memo file) from the collection's source
// text, with the program's own engine. The table is replaced only when every record was written.

#include "extras/jokes.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTextStream err(stderr);
  const QStringList args = QCoreApplication::arguments().mid(1);
  if (args.size() != 2) {
    err << "usage: make-jokes SOURCE TABLE" << Qt::endl;
    return 2;
  }
  QFile source(args[0]);
  if (!source.open(QIODevice::ReadOnly)) {
    err << args[0] << ": " << source.errorString() << Qt::endl;
    return 1;
  }
  std::vector<chimewise::JokeRecord> records;
  if (const chimewise::Problem p = chimewise::ParseJokeSource(QString::fromUtf8(source.readAll()), &records); !p.ok()) {
    err << args[0] << ": " << chimewise::Describe(p).text << Qt::endl;
    return 1;
  }
  const xbase::Status s = chimewise::WriteJokesTable(args[1], records);
  if (!s.ok()) {
    err << args[1] << ": " << QString::fromStdString(s.ToString()) << Qt::endl;
    return 1;
  }
  QTextStream(stdout) << records.size() << " records written to " << args[1] << Qt::endl;
  return 0;
}

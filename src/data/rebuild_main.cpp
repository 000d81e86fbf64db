// chimewise-rebuild APPFOLDER: packs APPFOLDER/data/CALENDAR.DBF and creates its
// thirteen index tags, exactly as the program's optimize command does.
#include <cstdio>

#include "data/calendar.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: chimewise-rebuild APPFOLDER\n");
    return 64;
  }
  xbase::Engine engine;
  chimewise::data::ApplyStartupSettings(engine);
  xbase::Status s = chimewise::data::RebuildDatabase(engine, QString::fromLocal8Bit(argv[1]));
  if (!s.ok()) {
    std::fprintf(stderr, "chimewise-rebuild: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}

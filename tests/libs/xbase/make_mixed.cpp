// Writes a table with every field kind, blanks, Windows-1252 text, long and multi-line memos, deleted
// records and tags: for the round trip through Python and the fuzz target's seeds.
#include <cstdio>
#include <string>

#include "xbase/engine.h"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  const std::string path = argv[1];
  std::vector<xbase::FieldDef> fields = {
      {"NAME", 'C', 25}, {"COUNT", 'N', 5}, {"PRICE", 'N', 9, 2}, {"DAY", 'D', 8}, {"OK", 'L', 1}, {"NOTES", 'M', 10},
  };
  xbase::Status s = xbase::CreateTable(xbase::Env::Default(), path, fields, true);
  xbase::Engine engine;
  int area = 0;
  if (s.ok()) s = engine.Use(path, "MIXED", xbase::OpenMode::kExclusive, &area);
  xbase::WorkArea* wa = engine.Current();
  struct Row {
    const char *name, *count, *price, *day, *ok;
    std::string notes;
    bool deleted;
  };
  std::string long_memo;
  for (int i = 0; i < 300; ++i) long_memo += "line " + std::to_string(i) + " of a long memo\r\n";
  const Row rows[] = {
      {"Dentist", "600", "12.50", "20261206", "T", "Bring the card.", false},
      {"", "", "", "", "", "", false},
      {"Caf\xE9 au lait \xFC\xDF", "-42", "-0.75", "19991231", "F", "na\xEFve memo \xE9", false},
      {"gone", "1", "1.00", "20000229", "T", "deleted memo", true},
      {"long", "99999", "999999.99", "20380119", "T", long_memo, false},
      {"quote \" \\ \x93"
       "curly\x94 \x80",
       "0", "0.00", "20240101", "F", "tab\there\nnewline", false},
      {"also gone", "7", "", "", "", "", true},
  };
  for (const Row& r : rows) {
    if (!s.ok()) break;
    s = wa->AppendBlank();
    if (s.ok()) s = wa->Replace("NAME", r.name);
    if (s.ok()) s = wa->Replace("COUNT", r.count);
    if (s.ok()) s = wa->Replace("PRICE", r.price);
    if (s.ok()) s = wa->Replace("DAY", r.day);
    if (s.ok()) s = wa->Replace("OK", r.ok);
    if (s.ok()) s = wa->ReplaceMemo("NOTES", r.notes);
    if (s.ok() && r.deleted) s = wa->Delete();
    if (s.ok()) s = wa->Commit();
  }
  if (s.ok()) s = wa->Go(1);  // a memo rewritten: the record must point at the new text
  if (s.ok()) s = wa->ReplaceMemo("NOTES", "Bring the card. And the letter.");
  if (s.ok()) s = wa->Commit();
  if (s.ok()) s = wa->IndexTag("NAME", "upper(NAME)", "!DELETED()");
  if (s.ok()) s = wa->IndexTag("DAY", "dtos(DAY)+str(COUNT,5)", "");
  if (s.ok()) s = wa->IndexTag("PRICE", "PRICE", "OK");
  if (s.ok()) s = engine.CloseAll();
  if (!s.ok()) {
    std::fprintf(stderr, "make_mixed: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}

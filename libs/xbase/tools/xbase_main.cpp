// xbase: the engine's own shell.
//   xbase dump TABLE          one JSON object per record
//   xbase keys TABLE TAG      record number and key, in tag order
//   xbase check TABLE         table, memo and index agree (exit 2 when not)
//   xbase pack TABLE          remove deleted records, rebuild the index
//   xbase reindex TABLE       rebuild every tag of the index
//   xbase utf8 TABLE          convert the table's text to UTF-8 (the old table kept beside it)
//   xbase tags TABLE          the tags with their key and FOR expressions
//   xbase create TABLE NAME:TYPE:LEN[:DEC] ...   a new empty table
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "xbase/engine.h"

namespace {

// Text as a JSON string: the table's bytes decoded with its code page, every character beyond
// ASCII as \u escapes (a surrogate pair beyond U+FFFF).
void JsonString(std::string* out, std::string_view bytes, const std::string& code_page) {
  const std::string s = xbase::DecodeText(code_page, bytes);
  out->push_back('"');
  const auto escape = [out](unsigned code) {
    char b[12];
    std::snprintf(b, sizeof b, "\\u%04x", code);
    *out += b;
  };
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      unsigned code = c & (0xFFu >> (n + 1));
      for (size_t k = 1; k < n && i + k < s.size(); ++k) code = (code << 6) | (s[i + k] & 0x3F);
      if (code >= 0x10000) {
        escape(0xD800 + ((code - 0x10000) >> 10));
        escape(0xDC00 + ((code - 0x10000) & 0x3FF));
      } else {
        escape(code);
      }
      i += n;
      continue;
    }
    ++i;
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      default:
        if (c < 0x20)
          escape(c);
        else
          out->push_back(static_cast<char>(c));
    }
  }
  out->push_back('"');
}

int Fail(const xbase::Status& s) {
  std::fprintf(stderr, "xbase: %s\n", s.ToString().c_str());
  return 2;
}

int Usage() {
  std::fprintf(stderr,
               "usage: xbase dump TABLE | keys TABLE TAG | check TABLE | pack TABLE | reindex TABLE | utf8 TABLE |\n"
               "       tags TABLE\n"
               "       xbase create TABLE NAME:TYPE:LEN[:DEC] ...\n");
  return 64;
}

std::string NumberText(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%.10g", v);
  return b;
}

// A numeric field as JSON: its own digits when they form a JSON number (so numbers
// wider than a double keep every digit), otherwise the value as xBase reads it.
std::string NumberJson(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
  size_t i = text.starts_with('-') ? 1 : 0;
  const size_t int_start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  bool ok = i > int_start && !(text[int_start] == '0' && i - int_start > 1);
  if (ok && i < text.size() && text[i] == '.') {
    const size_t frac = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    ok = i > frac;
  }
  if (ok && i == text.size()) return std::string(text);
  return NumberText(xbase::ParseLeadingNumber(text));
}

int Dump(xbase::WorkArea* wa) {
  auto fields = wa->Fields();
  const std::string& page = wa->CodePage();
  std::string line;
  for (uint32_t r = 1; r <= wa->RecCount(); ++r) {
    xbase::Status s = wa->Go(r);
    if (!s.ok()) return Fail(s);
    line = "{\"recno\":" + std::to_string(r) + ",\"deleted\":" + (wa->Deleted() ? "true" : "false");
    // By position: a table written by another program may give two fields one name.
    for (size_t i = 0; i < fields.size(); ++i) {
      const xbase::FieldDef& f = fields[i];
      line += ",";
      JsonString(&line, f.name, page);
      line += ":";
      std::string text;
      s = wa->GetStringAt(i, &text);
      if (!s.ok()) return Fail(s);
      bool blank = text.find_first_not_of(' ') == std::string::npos;
      // A number too wide for its field is stored as asterisks: no value, as other readers take it.
      if (f.type == 'N' && text.find_first_not_of(" *") == std::string::npos) blank = true;
      if (f.type == 'M') {
        JsonString(&line, text, page);
      } else if (f.type == 'N') {
        line += blank ? "null" : NumberJson(text);
      } else if (f.type == 'L') {
        char c = text.empty() ? ' ' : text[0];
        line += (c == 'T' || c == 't' || c == 'Y' || c == 'y')   ? "true"
                : (c == 'F' || c == 'f' || c == 'N' || c == 'n') ? "false"
                                                                 : "null";
      } else if (f.type == 'D') {
        if (blank)
          line += "null";
        else
          JsonString(&line, text, page);
      } else {
        JsonString(&line, text, page);
      }
    }
    line += "}\n";
    std::fputs(line.c_str(), stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string cmd = argv[1];
  std::string path = argv[2];
  xbase::Engine engine;
  engine.settings().hide_deleted = false;

  if (cmd == "create") {
    std::vector<xbase::FieldDef> fields;
    for (int i = 3; i < argc; ++i) {
      std::string arg = argv[i];
      std::vector<std::string> parts;
      size_t start = 0;
      for (size_t p; (p = arg.find(':', start)) != std::string::npos; start = p + 1)
        parts.push_back(arg.substr(start, p - start));
      parts.push_back(arg.substr(start));
      if (parts.size() < 3 || parts[1].size() != 1) return Usage();
      fields.push_back(xbase::FieldDef{parts[0], parts[1][0], static_cast<uint32_t>(std::stoul(parts[2])),
                                       parts.size() > 3 ? static_cast<uint32_t>(std::stoul(parts[3])) : 0u});
    }
    xbase::Status s = xbase::CreateTable(engine.env(), path, fields);
    return s.ok() ? 0 : Fail(s);
  }

  const bool exclusive = cmd == "pack" || cmd == "reindex" || cmd == "utf8";
  int area = 0;
  xbase::Status s = engine.Use(path, "", exclusive ? xbase::OpenMode::kExclusive : xbase::OpenMode::kReadOnly, &area);
  if (!s.ok()) return Fail(s);
  xbase::WorkArea* wa = engine.Current();
  if (auto repair = wa->Repair()) {
    std::fprintf(stderr, "xbase: warning: %s is damaged: header says %u records but the file holds %u; using those\n",
                 path.c_str(), repair->header_count, repair->found_count);
  }

  if (cmd == "dump") return Dump(wa);
  if (cmd == "tags") {
    if (!wa->IndexStatus().ok()) return Fail(wa->IndexStatus());
    for (const auto& t : wa->Tags())
      std::printf("%s\t%s\t%s\n", t.name.c_str(), t.key_expr.c_str(), t.for_expr.c_str());
    return 0;
  }
  if (cmd == "keys") {
    if (argc < 4) return Usage();
    s = wa->ScanTag(argv[3], [](uint32_t recno, const xbase::Value& key) -> xbase::Status {
      std::string text;
      switch (key.type) {
        case xbase::ValueType::kNumber: text = NumberText(key.n); break;
        case xbase::ValueType::kLogical: text = key.b ? ".T." : ".F."; break;
        default: text = key.s; break;
      }
      std::printf("%u\t%s\n", recno, text.c_str());
      return xbase::Status::OK();
    });
    return s.ok() ? 0 : Fail(s);
  }
  if (cmd == "check") {
    std::vector<std::string> report, notes;
    s = wa->Check(&report, &notes);
    for (const auto& line : notes) std::printf("note: %s\n", line.c_str());
    for (const auto& line : report) std::printf("%s\n", line.c_str());
    if (!s.ok()) return Fail(s);
    if (wa->IndexStatus().IsNotFound()) std::printf("note: %s\n", wa->IndexStatus().message().c_str());
    std::printf("ok: %u records, %zu tags\n", wa->RecCount(), wa->Tags().size());
    return 0;
  }
  if (cmd == "pack") {
    s = wa->Pack();
    if (!s.ok()) return Fail(s);
    std::printf("packed: %u records\n", wa->RecCount());
    return 0;
  }
  if (cmd == "utf8") {
    // The table as it was goes beside it: NAME_cp1252.dbf (and its memo file).
    const size_t dot = path.rfind('.');
    const std::string backup = path.substr(0, dot) + "_cp1252" + (dot == std::string::npos ? "" : path.substr(dot));
    std::vector<std::string> widened;
    s = wa->ConvertToUtf8(backup, &widened);
    if (!s.ok()) return Fail(s);
    std::printf("converted to UTF-8; the table as it was: %s\n", backup.c_str());
    for (const std::string& f : widened) std::printf("widened: %s\n", f.c_str());
    return 0;
  }
  if (cmd == "reindex") {
    s = wa->Reindex();
    if (!s.ok()) return Fail(s);
    std::printf("reindexed: %zu tags\n", wa->Tags().size());
    return 0;
  }
  return Usage();
}

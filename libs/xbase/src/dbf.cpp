#include "dbf.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "coding.h"

namespace xbase {

namespace {

std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

void StampDate(char* p) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  p[0] = static_cast<char>(tm.tm_year);  // years since 1900, as FoxPro writes it
  p[1] = static_cast<char>(tm.tm_mon + 1);
  p[2] = static_cast<char>(tm.tm_mday);
}

// Version bytes of other xBase dialects, whose headers or memo files this engine does
// not read; nullptr for a byte that names no known table format.
const char* ForeignVersion(uint8_t version) {
  switch (version) {
    case 0x02: return "FoxBASE / dBase II";
    case 0x04: return "dBase 7";
    case 0x8C: return "dBase 7 with memo";
    case 0x30:
    case 0x31:
    case 0x32: return "Visual FoxPro";
    case 0x43:
    case 0x63:
    case 0xCB: return "dBase IV SQL";
    case 0x7B:
    case 0x8B: return "dBase IV with a .DBT memo file";
    case 0x83: return "dBase III with a .DBT memo file";
    case 0xE5: return "Clipper SIX with memo";
    case 0xFB: return "FoxBASE with memo";
    default: return nullptr;
  }
}

}  // namespace

Status ValidateFields(const std::vector<FieldDef>& fields) {
  if (fields.empty()) return Status::InvalidArgument("a table needs at least one field");
  if (fields.size() > 255) return Status::InvalidArgument("more than 255 fields");
  uint32_t total = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldDef& f = fields[i];
    if (f.name.empty() || f.name.size() > 10)
      return Status::InvalidArgument("field name '" + f.name + "' must have 1 to 10 characters");
    for (char c : f.name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
        return Status::InvalidArgument("field name '" + f.name +
                                       "' has a character other than letters, digits and '_'");
      }
    }
    for (size_t j = 0; j < i; ++j) {
      if (UpperAscii(fields[j].name) == UpperAscii(f.name))
        return Status::InvalidArgument("field " + f.name + " appears twice");
    }
    bool ok = false;
    switch (f.type) {
      case 'C': ok = f.length >= 1 && f.length <= 254 && f.decimals == 0; break;
      case 'N': ok = f.length >= 1 && f.length <= 20 && (f.decimals == 0 || f.decimals + 2 <= f.length); break;
      case 'D': ok = f.length == 8 && f.decimals == 0; break;
      case 'L': ok = f.length == 1 && f.decimals == 0; break;
      case 'M': ok = f.length == 10 && f.decimals == 0; break;
      default: return Status::InvalidArgument(std::string("field ") + f.name + " has unknown type '" + f.type + "'");
    }
    if (!ok) return Status::InvalidArgument("field " + f.name + " has an invalid width or decimals for its type");
    total += f.length;
  }
  if (total > 65500) return Status::InvalidArgument("record longer than 65500 bytes");
  return Status::OK();
}

std::string DbfFile::BuildHeader(const std::vector<FieldDef>& fields, uint32_t record_count) {
  bool memo = false;
  uint32_t reclen = 1;
  for (const FieldDef& f : fields) {
    memo |= f.type == 'M';
    reclen += f.length;
  }
  const uint32_t header_len = 32 + 32 * static_cast<uint32_t>(fields.size()) + 1;
  std::string h(header_len, '\0');
  h[0] = static_cast<char>(memo ? kVersionFoxMemo : kVersionNoMemo);
  StampDate(&h[1]);
  EncodeLE32(&h[4], record_count);
  EncodeLE16(&h[8], static_cast<uint16_t>(header_len));
  EncodeLE16(&h[10], static_cast<uint16_t>(reclen));
  h[29] = 0x03;  // code page mark: Windows ANSI (cp1252)
  uint32_t offset = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    char* d = &h[32 + 32 * i];
    std::string name = UpperAscii(fields[i].name);
    for (size_t k = 0; k < name.size() && k < 10; ++k) d[k] = name[k];
    d[11] = fields[i].type;
    EncodeLE32(d + 12, offset);
    d[16] = static_cast<char>(fields[i].length);
    d[17] = static_cast<char>(fields[i].decimals);
    offset += fields[i].length;
  }
  h[header_len - 1] = 0x0D;
  return h;
}

std::string CompanionPath(Env* env, const std::string& table_path, const char* upper_ext) {
  size_t slash = table_path.rfind('/');
  size_t dot = table_path.rfind('.');
  std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                         ? table_path.substr(0, dot)
                         : table_path;
  std::string upper = base + "." + upper_ext;
  std::string lower = base + "." + [&] {
    std::string e(upper_ext);
    for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e;
  }();
  if (env->FileExists(upper)) return upper;
  if (env->FileExists(lower)) return lower;
  // Neither exists: follow the letter case of the table's extension.
  bool lower_ext = dot != std::string::npos && dot + 1 < table_path.size() &&
                   std::islower(static_cast<unsigned char>(table_path[dot + 1]));
  return lower_ext ? lower : upper;
}

Status CreateTable(Env* env, const std::string& path, const std::vector<FieldDef>& fields, bool overwrite) {
  XBASE_RETURN_IF_ERROR(ValidateFields(fields));
  if (!overwrite && env->FileExists(path)) return Status::InvalidArgument(path + " already exists");
  std::string bytes = DbfFile::BuildHeader(fields, 0);
  bytes.push_back(0x1A);
  std::unique_ptr<File> f;
  XBASE_RETURN_IF_ERROR(env->OpenFile(path, OpenFlags::kCreateTruncate, &f));
  XBASE_RETURN_IF_ERROR(f->Write(0, bytes));
  XBASE_RETURN_IF_ERROR(f->Sync());
  bool memo = false;
  for (const FieldDef& fs : fields) memo |= fs.type == 'M';
  if (memo) XBASE_RETURN_IF_ERROR(MemoFile::Create(env, CompanionPath(env, path, "FPT"), 64));
  return Status::OK();
}

Status DbfFile::Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<DbfFile>* out) {
  std::unique_ptr<File> file;
  XBASE_RETURN_IF_ERROR(env->OpenFile(path, read_only ? OpenFlags::kReadOnly : OpenFlags::kReadWrite, &file));
  return Load(path, std::move(file), out);
}

Status DbfFile::Load(const std::string& path, std::unique_ptr<File> file, std::unique_ptr<DbfFile>* out) {
  auto d = std::unique_ptr<DbfFile>(new DbfFile);
  d->path_ = path;
  d->file_ = std::move(file);
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(d->file_->Size(&size));
  if (size < 32)
    return Status::Corruption(path + ": file of " + std::to_string(size) + " bytes is too short for a table header");
  char h[32];
  XBASE_RETURN_IF_ERROR(d->file_->ReadExact(0, 32, h));
  d->version_ = static_cast<uint8_t>(h[0]);
  const char* page = CodePageOfMark(static_cast<uint8_t>(h[29]));
  d->name_page_ = page ? page : kWindows1252;
  if (d->version_ != kVersionNoMemo && d->version_ != kVersionFoxMemo) {
    if (const char* what = ForeignVersion(d->version_)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%02X", d->version_);
      return Status::NotSupported(path + ": table version " + buf + " (" + what +
                                  ") is not supported; this engine reads FoxPro 2.x and dBase III tables");
    }
    return Status::Corruption(path + ": not a table file (version byte " + std::to_string(d->version_) + ")");
  }
  d->header_length_ = DecodeLE16(h + 8);
  d->record_length_ = DecodeLE16(h + 10);
  const uint32_t header_count = DecodeLE32(h + 4);
  if (d->header_length_ < 32 + 1 || d->header_length_ > size) {
    return Status::Corruption(path + ": header length " + std::to_string(d->header_length_) +
                              " does not fit a file of " + std::to_string(size) + " bytes");
  }
  std::string header(d->header_length_, '\0');
  XBASE_RETURN_IF_ERROR(d->file_->ReadExact(0, d->header_length_, header.data()));
  uint32_t offset = 0;
  bool terminated = false;
  for (uint32_t pos = 32; pos + 1 <= d->header_length_; pos += 32) {
    if (header[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > d->header_length_) break;
    const char* fd = header.data() + pos;
    FieldRef f;
    size_t n = 0;
    while (n < 11 && fd[n] != '\0') ++n;
    // Names are bytes in the table's code page: other programs write letters beyond
    // ASCII and characters such as '-'. Only ASCII letters change case, and never the
    // second byte of a two-byte character (Big5, GBK, Shift-JIS).
    f.name = d->UpperName(std::string_view(fd, n));
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(fd[11])));
    f.length = static_cast<uint8_t>(fd[16]);
    f.decimals = static_cast<uint8_t>(fd[17]);
    f.offset = offset;
    if (f.name.empty())
      return Status::Corruption(path + ": field " + std::to_string(d->fields_.size() + 1) + " has no name");
    for (char c : f.name) {
      if (static_cast<unsigned char>(c) < 0x20)
        return Status::Corruption(path + ": the name of field " + std::to_string(d->fields_.size() + 1) +
                                  " holds control bytes");
    }
    bool ok = false;
    switch (f.type) {
      case 'C': ok = f.length >= 1; break;
      // Numbers wider than the 20 digits FoxPro writes are read as text of their width, and
      // as numbers as far as a double holds them.
      case 'N':
      case 'F': ok = f.length >= 1; break;
      case 'D': ok = f.length == 8; break;
      case 'L': ok = f.length == 1; break;
      case 'M':
        ok = f.length == 10;
        d->has_memo_ = true;
        break;
      default:
        return Status::NotSupported(path + ": field " + f.name + " has type '" + std::string(1, f.type) +
                                    "', which this engine does not handle");
    }
    if (!ok)
      return Status::Corruption(path + ": field " + f.name + " has an impossible width " + std::to_string(f.length));
    if (f.type == 'M' && d->version_ != kVersionFoxMemo)
      return Status::Corruption(path + ": memo field " + f.name + " in a table without a memo file");
    offset += f.length;
    d->fields_.push_back(std::move(f));
  }
  if (!terminated) return Status::Corruption(path + ": field list has no terminator within the header");
  if (d->fields_.empty())
    return Status::NotSupported(path + ": the table has no fields, which this engine does not handle");
  // Some writers leave bytes after the last field (a record a byte longer than its fields is
  // common); they are read past and kept as they are.
  if (offset + 1 > d->record_length_) {
    return Status::Corruption(path + ": record length " + std::to_string(d->record_length_) +
                              " does not match the fields (" + std::to_string(offset + 1) + ")");
  }
  d->shared_name_.assign(d->fields_.size(), false);
  for (size_t i = 0; i < d->fields_.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (d->fields_[i].name == d->fields_[j].name) d->shared_name_[i] = d->shared_name_[j] = true;
    }
  }
  d->raw_header_ = std::move(header);
  d->SettleCount(header_count, size);
  *out = std::move(d);
  return Status::OK();
}

std::vector<FieldDef> DbfFile::specs() const {
  std::vector<FieldDef> r;
  for (const FieldRef& f : fields_) r.push_back(FieldDef{f.name, f.type == 'F' ? 'N' : f.type, f.length, f.decimals});
  return r;
}

std::string DbfFile::UpperName(std::string_view name) const {
  std::string u(name);
  for (size_t i = 0; i < u.size(); ++i) {
    const auto c = static_cast<unsigned char>(u[i]);
    if (IsLeadByte(name_page_, c))
      ++i;
    else if (c >= 'a' && c <= 'z')
      u[i] = static_cast<char>(c - 32);
  }
  return u;
}

int DbfFile::FieldIndex(std::string_view name) const {
  std::string u = UpperName(name);
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].name == u) return shared_name_[i] ? kAmbiguousField : static_cast<int>(i);
  }
  return -1;
}

std::string DbfFile::HeaderWithCount(uint32_t record_count) const {
  std::string h = raw_header_;
  StampDate(&h[1]);
  EncodeLE32(&h[4], record_count);
  return h;
}

void DbfFile::SettleCount(uint32_t header_count, uint64_t size) {
  header_count_ = header_count;
  const uint32_t found = RecordsIn(size);
  if (header_count == found) {
    record_count_ = found;
    return;
  }
  // The header is damaged (or a writer stopped between writing a record and the count):
  // what the file holds wins, so no record is hidden from reads or overwritten by an append.
  if (!count_repaired_) claimed_count_ = header_count;
  count_repaired_ = true;
  record_count_ = found;
}

Status DbfFile::RefreshCount() {
  char b[4];
  XBASE_RETURN_IF_ERROR(file_->ReadExact(4, 4, b));
  const uint32_t count = DecodeLE32(b);
  if (count == header_count_) return Status::OK();
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(file_->Size(&size));
  SettleCount(count, size);
  return Status::OK();
}

Status DbfFile::ReadRecord(uint32_t recno, std::string* buf) {
  if (recno < 1 || recno > record_count_)
    return Status::InvalidArgument("record " + std::to_string(recno) + " does not exist");
  buf->resize(record_length_);
  return file_->ReadExact(header_length_ + static_cast<uint64_t>(recno - 1) * record_length_, record_length_,
                          buf->data());
}

Status DbfFile::ReadRecords(uint32_t first, uint32_t n, std::string* buf) {
  if (n == 0) {
    buf->clear();
    return Status::OK();
  }
  if (first < 1 || first + n - 1 > record_count_)
    return Status::InvalidArgument("record range past the end of the table");
  buf->resize(static_cast<size_t>(n) * record_length_);
  return file_->ReadExact(header_length_ + static_cast<uint64_t>(first - 1) * record_length_, buf->size(), buf->data());
}

Status DbfFile::WriteRecord(uint32_t recno, std::string_view rec) {
  if (rec.size() != record_length_) return Status::InvalidArgument("record of wrong length");
  return file_->Write(header_length_ + static_cast<uint64_t>(recno - 1) * record_length_, rec);
}

Status DbfFile::WriteCount(uint32_t count) {
  char h[7];
  StampDate(h);
  EncodeLE32(h + 3, count);
  XBASE_RETURN_IF_ERROR(file_->Write(1, std::string_view(h, 7)));
  record_count_ = count;
  header_count_ = count;
  const char eof = 0x1A;
  return file_->Write(header_length_ + static_cast<uint64_t>(count) * record_length_, std::string_view(&eof, 1));
}

std::string DbfFile::BlankRecord() const { return std::string(record_length_, ' '); }

// ---- memo ----

Status ParseMemoPointer(std::string_view raw, uint32_t* block) {
  uint64_t v = 0;
  bool any = false;
  for (char c : raw) {
    if (c == ' ' || c == '\0') {
      if (any) return Status::Corruption("memo pointer '" + std::string(raw) + "' has blanks inside");
      continue;
    }
    if (c < '0' || c > '9') return Status::Corruption("memo pointer is not a number");
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > 0xFFFFFFFFu) return Status::Corruption("memo pointer too large");
    any = true;
  }
  *block = static_cast<uint32_t>(v);
  return Status::OK();
}

std::string FormatMemoPointer(uint32_t block, uint32_t width) {
  if (block == 0) return std::string(width, ' ');
  std::string digits = std::to_string(block);
  return std::string(width - digits.size(), ' ') + digits;
}

Status MemoFile::Create(Env* env, const std::string& path, uint32_t block_size) {
  std::string h(kHeaderSize, '\0');
  EncodeBE32(&h[0], kHeaderSize / block_size);
  EncodeBE16(&h[6], static_cast<uint16_t>(block_size));
  std::unique_ptr<File> f;
  XBASE_RETURN_IF_ERROR(env->OpenFile(path, OpenFlags::kCreateTruncate, &f));
  XBASE_RETURN_IF_ERROR(f->Write(0, h));
  return f->Sync();
}

Status MemoFile::Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<MemoFile>* out) {
  auto m = std::unique_ptr<MemoFile>(new MemoFile);
  m->path_ = path;
  XBASE_RETURN_IF_ERROR(env->OpenFile(path, read_only ? OpenFlags::kReadOnly : OpenFlags::kReadWrite, &m->file_));
  char h[8];
  Status s = m->file_->ReadExact(0, 8, h);
  if (!s.ok()) return Status::Corruption(path + ": memo file header is truncated");
  m->block_size_ = DecodeBE16(h + 6);
  // FoxPro allows block sizes 1..32 KiB; 0 in old files means 512.
  if (m->block_size_ == 0) m->block_size_ = 512;
  *out = std::move(m);
  return Status::OK();
}

Status MemoFile::Read(uint32_t block, std::string* text) {
  text->clear();
  if (block == 0) return Status::OK();
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(file_->Size(&size));
  uint64_t pos = static_cast<uint64_t>(block) * block_size_;
  if (pos < kHeaderSize && block_size_ < kHeaderSize)
    return Status::Corruption(path_ + ": memo pointer " + std::to_string(block) + " points into the memo header");
  if (pos + 8 > size)
    return Status::Corruption(path_ + ": memo pointer " + std::to_string(block) + " is past the end of the memo file");
  char h[8];
  XBASE_RETURN_IF_ERROR(file_->ReadExact(pos, 8, h));
  uint32_t len = DecodeBE32(h + 4);
  if (len > size - pos - 8)
    return Status::Corruption(path_ + ": memo at block " + std::to_string(block) + " claims " + std::to_string(len) +
                              " bytes, past the end of the memo file");
  text->resize(len);
  return file_->ReadExact(pos + 8, len, text->data());
}

Status MemoFile::CheckHeader() {
  char h[8];
  XBASE_RETURN_IF_ERROR(file_->ReadExact(0, 8, h));
  const uint32_t next = DecodeBE32(h);
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(file_->Size(&size));
  const uint64_t end_blocks = (size + block_size_ - 1) / block_size_;
  const uint32_t first_free = kHeaderSize / block_size_ + (kHeaderSize % block_size_ ? 1 : 0);
  if (next > end_blocks) {
    return Status::Corruption(path_ + ": next free block " + std::to_string(next) + " is past the end of the file (" +
                              std::to_string(end_blocks) + " blocks)");
  }
  if (next < first_free) {
    return Status::Corruption(path_ + ": next free block " + std::to_string(next) + " points into the header");
  }
  return Status::OK();
}

Status MemoFile::Append(std::string_view text, uint32_t* block) {
  if (text.size() > 0x7FFFFFF0u) return Status::InvalidArgument("memo text too long");
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(file_->Size(&size));
  const uint32_t first_free = kHeaderSize / block_size_ + (kHeaderSize % block_size_ ? 1 : 0);
  // The new memo goes to the real end of the file: a next-free pointer below it would
  // overwrite the header or existing memos, and one past it is damage (obeying it would
  // grow the file by whatever distance it names).
  const uint64_t end_blocks = std::max<uint64_t>(first_free, (size + block_size_ - 1) / block_size_);
  if (end_blocks > 0xFFFFFFF0u) return Status::InvalidArgument(path_ + ": memo file is full");
  const uint32_t next = static_cast<uint32_t>(end_blocks);
  std::string data(8, '\0');
  EncodeBE32(&data[0], 1);  // type 1: text
  EncodeBE32(&data[4], static_cast<uint32_t>(text.size()));
  data.append(text);
  size_t used = (data.size() + block_size_ - 1) / block_size_;
  data.resize(used * block_size_, '\0');
  XBASE_RETURN_IF_ERROR(file_->Write(static_cast<uint64_t>(next) * block_size_, data));
  char nh[4];
  EncodeBE32(nh, next + static_cast<uint32_t>(used));
  XBASE_RETURN_IF_ERROR(file_->Write(0, std::string_view(nh, 4)));
  *block = next;
  return Status::OK();
}

}  // namespace xbase

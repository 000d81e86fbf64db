#include "index.h"

#include <algorithm>
#include <cstring>

#include "coding.h"
#include "xbase/schema.h"

namespace xbase {

namespace {

constexpr char kMagic[8] = {'C', 'H', 'W', 'X', 'I', 'D', 'X', '1'};
constexpr uint32_t kPageHeader = 12;
constexpr uint8_t kLeaf = 1;
constexpr uint8_t kInternal = 2;
constexpr uint32_t kHeaderChecksumAt = 36;
constexpr uint32_t kDirectoryAt = 40;

struct PageView {
  std::string* p;
  uint32_t key_len;
  uint8_t kind() const { return static_cast<uint8_t>((*p)[0]); }
  uint16_t count() const { return DecodeLE16(p->data() + 2); }
  void set_count(uint16_t c) { EncodeLE16(p->data() + 2, c); }
  uint32_t next() const { return DecodeLE32(p->data() + 4); }
  void set_next(uint32_t n) { EncodeLE32(p->data() + 4, n); }
  uint32_t entry_size() const { return key_len + (kind() == kLeaf ? 4u : 8u); }
  uint32_t capacity() const { return (IndexFile::kPageSize - kPageHeader) / entry_size(); }
  char* entry(uint32_t i) const { return p->data() + kPageHeader + i * entry_size(); }
  std::string_view key(uint32_t i) const { return std::string_view(entry(i), key_len); }
  uint32_t recno(uint32_t i) const { return DecodeLE32(entry(i) + key_len); }
  uint32_t child(uint32_t i) const { return DecodeLE32(entry(i) + key_len + 4); }
};

void InitPage(std::string* page, uint8_t kind, int tag) {
  page->assign(IndexFile::kPageSize, '\0');
  (*page)[0] = static_cast<char>(kind);
  (*page)[1] = static_cast<char>(tag);
}

int Compare(std::string_view ak, uint32_t ar, std::string_view bk, uint32_t br) {
  int c = ak.compare(bk);
  if (c != 0) return c < 0 ? -1 : 1;
  if (ar != br) return ar < br ? -1 : 1;
  return 0;
}

// Index of the child to descend into: the last entry whose separator is not
// above the target; entry 0 stands for everything below entry 1.
uint32_t ChildSlot(const PageView& v, std::string_view key, uint32_t recno) {
  uint32_t lo = 1, hi = v.count();
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (Compare(v.key(mid), v.recno(mid), key, recno) <= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo - 1;
}

uint32_t LowerBound(const PageView& v, std::string_view key, uint32_t recno) {
  uint32_t lo = 0, hi = v.count();
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (Compare(v.key(mid), v.recno(mid), key, recno) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

void PutString16(std::string* out, std::string_view s) {
  char b[2];
  EncodeLE16(b, static_cast<uint16_t>(s.size()));
  out->append(b, 2);
  out->append(s);
}

}  // namespace

std::string IndexFile::PadKey(std::string_view key, uint16_t len) {
  std::string k(key.substr(0, len));
  k.resize(len, '\0');
  return k;
}

int IndexFile::TagIndex(std::string_view name) const {
  for (size_t i = 0; i < tags_.size(); ++i) {
    if (tags_[i].name.size() == name.size() &&
        std::equal(name.begin(), name.end(), tags_[i].name.begin(),
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; })) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

// FoxPro's CDX and IDX files are 512-byte pages: a header whose first four bytes point at the
// root page (a multiple of 512 past the header, inside the file), with the key length in
// bytes 12-13 (at most 240).
bool IndexFile::LooksLikeFoxProIndex(const char* header, size_t got, uint64_t size) {
  if (got < 16 || size < 1024 || size % 512 != 0) return false;
  const uint32_t root = DecodeLE32(header);
  const uint16_t key_len = DecodeLE16(header + 12);
  return root >= 512 && root % 512 == 0 && root < size && key_len >= 1 && key_len <= 240;
}

bool IsFoxProIndexFile(Env* env, const std::string& path) {
  std::unique_ptr<File> f;
  if (!env->FileExists(path) || !env->OpenFile(path, OpenFlags::kReadOnly, &f).ok()) return false;
  char h[16];
  size_t got = 0;
  uint64_t size = 0;
  if (!f->Read(0, sizeof h, h, &got).ok() || !f->Size(&size).ok()) return false;
  return IndexFile::LooksLikeFoxProIndex(h, got, size);
}

Status IndexFile::Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<IndexFile>* out) {
  auto ix = std::unique_ptr<IndexFile>(new IndexFile);
  ix->path_ = path;
  XBASE_RETURN_IF_ERROR(env->OpenFile(path, read_only ? OpenFlags::kReadOnly : OpenFlags::kReadWrite, &ix->file_));
  XBASE_RETURN_IF_ERROR(ix->ReadHeader());
  *out = std::move(ix);
  return Status::OK();
}

Status IndexFile::ReadHeader() {
  std::string h(kPageSize, '\0');
  size_t got = 0;
  XBASE_RETURN_IF_ERROR(file_->Read(0, kPageSize, h.data(), &got));
  if (got < 8 || std::memcmp(h.data(), kMagic, 8) != 0) {
    uint64_t size = 0;
    XBASE_RETURN_IF_ERROR(file_->Size(&size));
    if (LooksLikeFoxProIndex(h.data(), got, size))
      return Status::NotSupported(path_ + ": a FoxPro index, not one this engine writes");
    return Status::NotSupported(path_ + ": not an index written by this engine (foreign or unknown layout)");
  }
  if (got < kPageSize) return Status::Corruption(path_ + ": index header is truncated");
  uint32_t stored = DecodeLE32(h.data() + kHeaderChecksumAt);
  EncodeLE32(h.data() + kHeaderChecksumAt, 0);
  if (Checksum(h.data(), kPageSize) != stored) return Status::Corruption(path_ + ": index header checksum mismatch");
  if (DecodeLE32(h.data() + 8) != kPageSize) return Status::Corruption(path_ + ": unexpected index page size");
  uint32_t page_count = DecodeLE32(h.data() + 12);
  uint64_t size = 0;
  XBASE_RETURN_IF_ERROR(file_->Size(&size));
  if (page_count < 1 || static_cast<uint64_t>(page_count) * kPageSize > size) {
    return Status::Corruption(path_ + ": index file is shorter than its header says");
  }
  uint32_t tag_count = DecodeLE32(h.data() + 28);
  uint32_t dir_len = DecodeLE32(h.data() + 32);
  if (tag_count > 255 || dir_len > kPageSize - kDirectoryAt) return Status::Corruption(path_ + ": bad tag directory");
  std::vector<TagDef> tags;
  const char* p = h.data() + kDirectoryAt;
  const char* end = p + dir_len;
  auto take16 = [&](std::string* s) -> bool {
    if (end - p < 2) return false;
    uint16_t n = DecodeLE16(p);
    p += 2;
    if (end - p < n) return false;
    s->assign(p, n);
    p += n;
    return true;
  };
  for (uint32_t i = 0; i < tag_count; ++i) {
    TagDef t;
    if (!take16(&t.name) || !take16(&t.key_expr) || !take16(&t.for_expr) || end - p < 7) {
      return Status::Corruption(path_ + ": bad tag directory");
    }
    t.key_type = p[0];
    t.key_len = DecodeLE16(p + 1);
    t.root = DecodeLE32(p + 3);
    p += 7;
    if (t.key_len < 1 || t.key_len > kMaxKeyLength || t.root < 1 || t.root >= page_count ||
        (t.key_type != 'C' && t.key_type != 'N' && t.key_type != 'L' && t.key_type != 'D')) {
      return Status::Corruption(path_ + ": tag " + t.name + " has an impossible definition");
    }
    tags.push_back(std::move(t));
  }
  tags_ = std::move(tags);
  page_count_ = page_count;
  table_count_ = DecodeLE32(h.data() + 16);
  dirty_ = DecodeLE32(h.data() + 20) != 0;
  generation_ = DecodeLE32(h.data() + 24);
  cached_tag_ = -1;
  return Status::OK();
}

Status IndexFile::WriteHeader() {
  std::string dir;
  for (const TagDef& t : tags_) {
    PutString16(&dir, t.name);
    PutString16(&dir, t.key_expr);
    PutString16(&dir, t.for_expr);
    char b[7];
    b[0] = t.key_type;
    EncodeLE16(b + 1, t.key_len);
    EncodeLE32(b + 3, t.root);
    dir.append(b, 7);
  }
  if (dir.size() > kPageSize - kDirectoryAt)
    return Status::InvalidArgument("tag definitions do not fit the index header");
  std::string h(kPageSize, '\0');
  std::memcpy(h.data(), kMagic, 8);
  EncodeLE32(h.data() + 8, kPageSize);
  EncodeLE32(h.data() + 12, page_count_);
  EncodeLE32(h.data() + 16, table_count_);
  EncodeLE32(h.data() + 20, dirty_ ? 1 : 0);
  EncodeLE32(h.data() + 24, generation_);
  EncodeLE32(h.data() + 28, static_cast<uint32_t>(tags_.size()));
  EncodeLE32(h.data() + 32, static_cast<uint32_t>(dir.size()));
  std::memcpy(h.data() + kDirectoryAt, dir.data(), dir.size());
  EncodeLE32(h.data() + kHeaderChecksumAt, Checksum(h.data(), kPageSize));
  return file_->Write(0, h);
}

Status IndexFile::Refresh() {
  char b[28];
  XBASE_RETURN_IF_ERROR(file_->ReadExact(0, sizeof b, b));
  if (DecodeLE32(b + 24) != generation_ || (DecodeLE32(b + 20) != 0) != dirty_ || DecodeLE32(b + 12) != page_count_) {
    return ReadHeader();
  }
  return Status::OK();
}

Status IndexFile::BeginUpdate() {
  dirty_ = true;
  cached_tag_ = -1;
  return WriteHeader();
}

Status IndexFile::EndUpdate(uint32_t table_count) {
  dirty_ = false;
  ++generation_;
  table_count_ = table_count;
  return WriteHeader();
}

Status IndexFile::ReadPage(uint32_t pgno, int tag, std::string* page, bool check_order) {
  if (pgno < 1 || pgno >= page_count_) {
    return Status::Corruption(path_ + ": tag " + tags_[static_cast<size_t>(tag)].name + " refers to page " +
                              std::to_string(pgno) + " outside the file");
  }
  if (caching_) {
    if (const auto kept = page_cache_.find(pgno); kept != page_cache_.end()) {
      if (static_cast<uint8_t>(kept->second[1]) != static_cast<uint8_t>(tag))
        return Status::Corruption(path_ + ": page " + std::to_string(pgno) + " does not belong to tag " +
                                  tags_[static_cast<size_t>(tag)].name);
      *page = kept->second;
      return Status::OK();
    }
  }
  page->resize(kPageSize);
  XBASE_RETURN_IF_ERROR(file_->ReadExact(static_cast<uint64_t>(pgno) * kPageSize, kPageSize, page->data()));
  uint32_t stored = DecodeLE32(page->data() + 8);
  EncodeLE32(page->data() + 8, 0);
  if (Checksum(page->data(), kPageSize) != stored)
    return Status::Corruption(path_ + ": page " + std::to_string(pgno) + " checksum mismatch");
  EncodeLE32(page->data() + 8, stored);
  PageView v{page, tags_[static_cast<size_t>(tag)].key_len};
  if ((v.kind() != kLeaf && v.kind() != kInternal) || static_cast<uint8_t>((*page)[1]) != static_cast<uint8_t>(tag) ||
      v.count() > v.capacity() || (v.kind() == kInternal && v.count() == 0)) {
    return Status::Corruption(path_ + ": page " + std::to_string(pgno) + " does not belong to tag " +
                              tags_[static_cast<size_t>(tag)].name);
  }
  // Entries are kept in order; a page out of order (damaged, or crafted with valid
  // checksums) would make every binary search on it answer wrongly.
  // The first entry of an inner page stands for everything below the second, so its key
  // may lie above keys inserted below it later; order holds from the second entry on.
  const uint32_t key_len = v.key_len, es = v.entry_size();
  const char* entries = page->data() + kPageHeader;
  for (uint32_t k = v.kind() == kLeaf ? 1 : 2; check_order && k < v.count(); ++k) {
    const char* a = entries + (k - 1) * es;
    const char* b = a + es;
    const int c = std::memcmp(a, b, key_len);
    if (c > 0 || (c == 0 && DecodeLE32(a + key_len) >= DecodeLE32(b + key_len))) {
      return Status::Corruption(path_ + ": tag " + tags_[static_cast<size_t>(tag)].name + " is out of order in page " +
                                std::to_string(pgno));
    }
  }
  if (caching_ && check_order) page_cache_[pgno] = *page;
  return Status::OK();
}

Status IndexFile::WritePage(uint32_t pgno, std::string* page) {
  if (caching_) {
    if (cached_leaf_ == pgno) cached_tag_ = -1;
    page_cache_[pgno] = *page;
    unwritten_.insert(pgno);
    return Status::OK();
  }
  EncodeLE32(page->data() + 8, 0);
  EncodeLE32(page->data() + 8, Checksum(page->data(), kPageSize));
  if (cached_leaf_ == pgno) cached_tag_ = -1;
  return file_->Write(static_cast<uint64_t>(pgno) * kPageSize, *page);
}

Status IndexFile::WritePage(uint32_t pgno, std::string&& page) {
  if (!caching_) return WritePage(pgno, &page);
  if (cached_leaf_ == pgno) cached_tag_ = -1;
  page_cache_[pgno] = std::move(page);
  unwritten_.insert(pgno);
  return Status::OK();
}

Status IndexFile::FlushCache() {
  for (auto it = unwritten_.begin(); it != unwritten_.end(); it = unwritten_.erase(it)) {
    std::string& page = page_cache_[*it];
    EncodeLE32(page.data() + 8, 0);
    EncodeLE32(page.data() + 8, Checksum(page.data(), kPageSize));
    XBASE_RETURN_IF_ERROR(file_->Write(static_cast<uint64_t>(*it) * kPageSize, page));
  }
  return Status::OK();
}

void IndexFile::EndCaching() {
  caching_ = false;
  page_cache_.clear();
  unwritten_.clear();
  cached_tag_ = -1;
}

Status IndexFile::FindLeaf(int tag, std::string_view key, uint32_t recno,
                           std::vector<std::pair<uint32_t, std::string>>* path, std::vector<int>* slots) {
  uint32_t pg = tags_[static_cast<size_t>(tag)].root;
  const uint32_t key_len = tags_[static_cast<size_t>(tag)].key_len;
  bool have_lo = false, have_hi = false;
  std::string lo_key, hi_key;
  uint32_t lo_recno = 0, hi_recno = 0;
  for (int depth = 0;; ++depth) {
    if (depth > 32)
      return Status::Corruption(path_ + ": tag " + tags_[static_cast<size_t>(tag)].name +
                                " is deeper than any valid tree");
    path->emplace_back(pg, std::string());
    XBASE_RETURN_IF_ERROR(ReadPage(pg, tag, &path->back().second));
    PageView v{&path->back().second, key_len};
    // Every entry below an inner entry lies between its separator and the next one; a
    // leaf outside the range its parents give it is out of order with its neighbours.
    if (v.kind() == kLeaf && v.count() > 0 &&
        ((have_lo && Compare(v.key(0), v.recno(0), lo_key, lo_recno) < 0) ||
         (have_hi && Compare(v.key(v.count() - 1u), v.recno(v.count() - 1u), hi_key, hi_recno) >= 0))) {
      return Status::Corruption(path_ + ": tag " + tags_[static_cast<size_t>(tag)].name + " is out of order at page " +
                                std::to_string(pg));
    }
    if (v.kind() == kLeaf) return Status::OK();
    uint32_t slot = ChildSlot(v, key, recno);
    slots->push_back(static_cast<int>(slot));
    if (slot > 0) {
      have_lo = true;
      lo_key.assign(v.key(slot));
      lo_recno = v.recno(slot);
    }
    if (slot + 1 < v.count()) {
      have_hi = true;
      hi_key.assign(v.key(slot + 1));
      hi_recno = v.recno(slot + 1);
    }
    pg = v.child(slot);
  }
}

Status IndexFile::Seek(int tag, std::string_view key, uint32_t recno, bool* found, IndexEntry* out) {
  *found = false;
  if (tag < 0 || static_cast<size_t>(tag) >= tags_.size()) return Status::InvalidArgument("no such tag");
  const uint16_t key_len = tags_[static_cast<size_t>(tag)].key_len;
  std::string k = PadKey(key, key_len);
  std::vector<std::pair<uint32_t, std::string>> path;
  std::vector<int> slots;
  XBASE_RETURN_IF_ERROR(FindLeaf(tag, k, recno, &path, &slots));
  uint32_t pg = path.back().first;
  std::string page = std::move(path.back().second);
  PageView v{&page, key_len};
  uint32_t pos = LowerBound(v, k, recno);
  for (int hops = 0; pos >= v.count(); ++hops) {
    uint32_t next = v.next();
    if (next == 0) return Status::OK();
    if (hops > static_cast<int>(page_count_)) return Status::Corruption(path_ + ": leaf chain loops");
    XBASE_RETURN_IF_ERROR(ReadPage(next, tag, &page));
    if (v.kind() != kLeaf) return Status::Corruption(path_ + ": leaf chain reaches an inner page");
    pg = next;
    pos = 0;
  }
  if (Compare(v.key(pos), v.recno(pos), k, recno) < 0) {
    return Status::Corruption(path_ + ": tag " + tags_[static_cast<size_t>(tag)].name + " is out of order at page " +
                              std::to_string(pg));
  }
  out->key.assign(v.key(pos));
  out->recno = v.recno(pos);
  *found = true;
  cached_leaf_ = pg;
  cached_tag_ = tag;
  cached_page_ = std::move(page);
  return Status::OK();
}

Status IndexFile::Next(int tag, const IndexEntry& cur, bool* found, IndexEntry* out) {
  if (cached_tag_ == tag) {
    PageView v{&cached_page_, tags_[static_cast<size_t>(tag)].key_len};
    uint32_t pos = LowerBound(v, cur.key, cur.recno);
    if (pos < v.count() && v.recno(pos) == cur.recno && v.key(pos) == cur.key && pos + 1 < v.count()) {
      out->key.assign(v.key(pos + 1));
      out->recno = v.recno(pos + 1);
      *found = true;
      return Status::OK();
    }
  }
  return Seek(tag, cur.key, cur.recno + 1, found, out);
}

Status IndexFile::LastInSubtree(int tag, uint32_t pg, int depth, bool* found, IndexEntry* out) {
  if (depth > 32) return Status::Corruption(path_ + ": tree too deep");
  std::string page;
  XBASE_RETURN_IF_ERROR(ReadPage(pg, tag, &page));
  PageView v{&page, tags_[static_cast<size_t>(tag)].key_len};
  if (v.kind() == kLeaf) {
    if (v.count() > 0) {
      out->key.assign(v.key(v.count() - 1u));
      out->recno = v.recno(v.count() - 1u);
      *found = true;
    }
    return Status::OK();
  }
  // Emptied leaves are possible, so look further left when a child has nothing.
  for (uint32_t i = v.count(); i-- > 0 && !*found;) {
    XBASE_RETURN_IF_ERROR(LastInSubtree(tag, v.child(i), depth + 1, found, out));
  }
  return Status::OK();
}

Status IndexFile::Prev(int tag, std::string_view key, uint32_t recno, bool last, bool* found, IndexEntry* out) {
  *found = false;
  if (tag < 0 || static_cast<size_t>(tag) >= tags_.size()) return Status::InvalidArgument("no such tag");
  if (last) return LastInSubtree(tag, tags_[static_cast<size_t>(tag)].root, 0, found, out);
  const uint16_t key_len = tags_[static_cast<size_t>(tag)].key_len;
  std::string k = PadKey(key, key_len);
  std::vector<std::pair<uint32_t, std::string>> path;
  std::vector<int> slots;
  XBASE_RETURN_IF_ERROR(FindLeaf(tag, k, recno, &path, &slots));
  {
    PageView v{&path.back().second, key_len};
    uint32_t pos = LowerBound(v, k, recno);
    if (pos > 0) {
      out->key.assign(v.key(pos - 1));
      out->recno = v.recno(pos - 1);
      *found = true;
      return Status::OK();
    }
  }
  // The predecessor is the last entry of the nearest subtree to the left.
  for (size_t level = slots.size(); level-- > 0;) {
    PageView v{&path[level].second, key_len};
    for (int i = slots[level]; i-- > 0;) {
      XBASE_RETURN_IF_ERROR(
          LastInSubtree(tag, v.child(static_cast<uint32_t>(i)), static_cast<int>(level) + 1, found, out));
      if (*found) return Status::OK();
    }
  }
  return Status::OK();
}

Status IndexFile::Insert(int tag, std::string_view key, uint32_t recno) {
  TagDef& def = tags_[static_cast<size_t>(tag)];
  const uint16_t key_len = def.key_len;
  std::string k = PadKey(key, key_len);
  std::vector<std::pair<uint32_t, std::string>> path;
  std::vector<int> slots;
  XBASE_RETURN_IF_ERROR(FindLeaf(tag, k, recno, &path, &slots));
  cached_tag_ = -1;

  // Entry to place in the node at the current level.
  std::string entry = k;
  char rb[8];
  EncodeLE32(rb, recno);
  entry.append(rb, 4);
  int level = static_cast<int>(path.size()) - 1;
  uint32_t pos;
  {
    PageView v{&path.back().second, key_len};
    pos = LowerBound(v, k, recno);
    if (pos < v.count() && v.recno(pos) == recno && v.key(pos) == k) {
      return Status::Corruption(path_ + ": tag " + def.name + " already holds record " + std::to_string(recno));
    }
  }
  while (true) {
    std::string& page = path[static_cast<size_t>(level)].second;
    uint32_t pgno = path[static_cast<size_t>(level)].first;
    PageView v{&page, key_len};
    const uint32_t es = v.entry_size();
    const uint32_t n = v.count();
    if (n + 1 <= v.capacity() && entry.size() == es) {
      // Room on the page: the entries after the new one move up by one, in place.
      char* at = page.data() + kPageHeader + static_cast<size_t>(pos) * es;
      std::memmove(at + es, at, static_cast<size_t>(n - pos) * es);
      std::memcpy(at, entry.data(), es);
      v.set_count(static_cast<uint16_t>(n + 1));
      return WritePage(pgno, std::move(page));
    }
    std::string body(page.data() + kPageHeader, n * es);
    body.insert(static_cast<size_t>(pos) * es, entry);
    if (n + 1 <= v.capacity()) {
      std::memcpy(page.data() + kPageHeader, body.data(), body.size());
      v.set_count(static_cast<uint16_t>(n + 1));
      return WritePage(pgno, &page);
    }
    // Split: the upper half moves to a new page appended to the file.
    const uint32_t total = n + 1;
    const uint32_t left_n = total / 2;
    const uint32_t right_pg = page_count_++;
    std::string right;
    InitPage(&right, v.kind(), tag);
    PageView rv{&right, key_len};
    std::memcpy(right.data() + kPageHeader, body.data() + left_n * es, (total - left_n) * es);
    rv.set_count(static_cast<uint16_t>(total - left_n));
    std::memset(page.data() + kPageHeader, 0, kPageSize - kPageHeader);
    std::memcpy(page.data() + kPageHeader, body.data(), left_n * es);
    v.set_count(static_cast<uint16_t>(left_n));
    if (v.kind() == kLeaf) {
      rv.set_next(v.next());
      v.set_next(right_pg);
    }
    XBASE_RETURN_IF_ERROR(WritePage(right_pg, &right));
    XBASE_RETURN_IF_ERROR(WritePage(pgno, &page));
    // The parent learns the right page under its smallest entry.
    std::string sep(rv.key(0));
    char b[8];
    EncodeLE32(b, rv.recno(0));
    EncodeLE32(b + 4, right_pg);
    sep.append(b, 8);
    if (level == 0) {
      const uint32_t root_pg = page_count_++;
      std::string root;
      InitPage(&root, kInternal, tag);
      PageView nv{&root, key_len};
      std::string first(v.key(0));
      char fb[8];
      EncodeLE32(fb, v.recno(0));
      EncodeLE32(fb + 4, pgno);
      first.append(fb, 8);
      std::memcpy(root.data() + kPageHeader, first.data(), first.size());
      std::memcpy(root.data() + kPageHeader + first.size(), sep.data(), sep.size());
      nv.set_count(2);
      XBASE_RETURN_IF_ERROR(WritePage(root_pg, &root));
      def.root = root_pg;
      return Status::OK();
    }
    entry = std::move(sep);
    --level;
    pos = static_cast<uint32_t>(slots[static_cast<size_t>(level)]) + 1;
  }
}

Status IndexFile::Erase(int tag, std::string_view key, uint32_t recno) {
  const TagDef& def = tags_[static_cast<size_t>(tag)];
  std::string k = PadKey(key, def.key_len);
  std::vector<std::pair<uint32_t, std::string>> path;
  std::vector<int> slots;
  XBASE_RETURN_IF_ERROR(FindLeaf(tag, k, recno, &path, &slots));
  cached_tag_ = -1;
  uint32_t pgno = path.back().first;
  std::string page = std::move(path.back().second);
  PageView v{&page, def.key_len};
  uint32_t pos = LowerBound(v, k, recno);
  // Emptied leaves stay in the chain, so the entry may sit in a later leaf.
  for (int hops = 0; pos >= v.count(); ++hops) {
    if (v.next() == 0 || hops > static_cast<int>(page_count_)) break;
    pgno = v.next();
    XBASE_RETURN_IF_ERROR(ReadPage(pgno, tag, &page));
    pos = 0;
  }
  if (pos >= v.count() || v.recno(pos) != recno || v.key(pos) != k) {
    return Status::Corruption(path_ + ": tag " + def.name + " lacks the entry of record " + std::to_string(recno));
  }
  const uint32_t es = v.entry_size();
  char* at = v.entry(pos);
  std::memmove(at, at + es, (v.count() - pos - 1) * es);
  std::memset(v.entry(v.count() - 1), 0, es);
  v.set_count(static_cast<uint16_t>(v.count() - 1));
  return WritePage(pgno, &page);
}

Status IndexFile::BuildPages(TagBuild* tag, uint32_t first_page, std::string* pages, uint32_t* root, uint32_t* count) {
  auto& e = tag->entries;
  const uint16_t key_len = tag->def.key_len;
  for (auto& x : e) x.key = PadKey(x.key, key_len);
  std::sort(e.begin(), e.end(),
            [](const IndexEntry& a, const IndexEntry& b) { return Compare(a.key, a.recno, b.key, b.recno) < 0; });
  for (size_t i = 1; i < e.size(); ++i) {
    if (e[i].recno == e[i - 1].recno && e[i].key == e[i - 1].key)
      return Status::InvalidArgument("duplicate index entry");
  }
  const int tag_no = static_cast<int>(tag->def.root);  // caller passes the tag number here
  uint32_t next_pg = first_page;
  std::vector<std::string> built;
  // (first key, first recno, page) of each node on the level being built
  struct Child {
    std::string key;
    uint32_t recno;
    uint32_t page;
  };
  std::vector<Child> level;
  const uint32_t leaf_cap = (kPageSize - kPageHeader) / (key_len + 4u);
  const uint32_t leaf_fill = std::max<uint32_t>(1, leaf_cap * 9 / 10);
  size_t i = 0;
  do {
    std::string page;
    InitPage(&page, kLeaf, tag_no);
    PageView v{&page, key_len};
    uint32_t n = 0;
    for (; n < leaf_fill && i < e.size(); ++n, ++i) {
      std::memcpy(v.entry(n), e[i].key.data(), key_len);
      EncodeLE32(v.entry(n) + key_len, e[i].recno);
    }
    v.set_count(static_cast<uint16_t>(n));
    uint32_t pg = next_pg++;
    if (i < e.size()) v.set_next(next_pg);
    level.push_back(Child{n ? std::string(v.key(0)) : std::string(key_len, '\0'), n ? v.recno(0) : 0, pg});
    built.push_back(std::move(page));
  } while (i < e.size());
  const uint32_t inner_cap = (kPageSize - kPageHeader) / (key_len + 8u);
  const uint32_t inner_fill = std::max<uint32_t>(2, inner_cap * 9 / 10);
  while (level.size() > 1) {
    std::vector<Child> up;
    for (size_t j = 0; j < level.size();) {
      std::string page;
      InitPage(&page, kInternal, tag_no);
      PageView v{&page, key_len};
      uint32_t n = 0;
      // Never leave a single child for a last node.
      size_t take = std::min<size_t>(inner_fill, level.size() - j);
      if (level.size() - j - take == 1) --take;
      for (; n < take; ++n, ++j) {
        std::memcpy(v.entry(n), level[j].key.data(), key_len);
        EncodeLE32(v.entry(n) + key_len, level[j].recno);
        EncodeLE32(v.entry(n) + key_len + 4, level[j].page);
      }
      v.set_count(static_cast<uint16_t>(n));
      uint32_t pg = next_pg++;
      up.push_back(Child{std::string(v.key(0)), v.recno(0), pg});
      built.push_back(std::move(page));
    }
    level = std::move(up);
  }
  *root = level[0].page;
  *count = next_pg - first_page;
  pages->clear();
  pages->reserve(built.size() * kPageSize);
  for (auto& p : built) {
    EncodeLE32(p.data() + 8, Checksum(p.data(), kPageSize));
    pages->append(p);
  }
  return Status::OK();
}

Status IndexFile::Create(Env* env, const std::string& path, std::vector<TagBuild>* tags, uint32_t table_count) {
  return Create(
      env, path, tags->size(),
      [tags](size_t t, TagBuild* out) {
        *out = std::move((*tags)[t]);
        return Status::OK();
      },
      table_count);
}

Status IndexFile::Create(Env* env, const std::string& path, size_t tag_count,
                         const std::function<Status(size_t, TagBuild*)>& build, uint32_t table_count) {
  auto ix = std::unique_ptr<IndexFile>(new IndexFile);
  ix->path_ = path;
  XBASE_RETURN_IF_ERROR(env->OpenFile(path, OpenFlags::kCreateTruncate, &ix->file_));
  ix->page_count_ = 1;
  ix->table_count_ = table_count;
  std::string pages;
  for (size_t t = 0; t < tag_count; ++t) {
    TagBuild tb;
    XBASE_RETURN_IF_ERROR(build(t, &tb));
    tb.def.root = static_cast<uint32_t>(t);
    uint32_t root = 0, count = 0;
    XBASE_RETURN_IF_ERROR(ix->BuildPages(&tb, ix->page_count_, &pages, &root, &count));
    XBASE_RETURN_IF_ERROR(ix->file_->Write(static_cast<uint64_t>(ix->page_count_) * kPageSize, pages));
    tb.def.root = root;
    ix->page_count_ += count;
    ix->tags_.push_back(tb.def);
  }
  XBASE_RETURN_IF_ERROR(ix->WriteHeader());
  return ix->file_->Sync();
}

Status IndexFile::AddTag(TagBuild* tag) {
  int existing = TagIndex(tag->def.name);
  size_t slot = existing >= 0 ? static_cast<size_t>(existing) : tags_.size();
  if (slot > 254) return Status::InvalidArgument("too many tags");
  tag->def.root = static_cast<uint32_t>(slot);
  std::string pages;
  uint32_t root = 0, count = 0;
  XBASE_RETURN_IF_ERROR(BuildPages(tag, page_count_, &pages, &root, &count));
  XBASE_RETURN_IF_ERROR(file_->Write(static_cast<uint64_t>(page_count_) * kPageSize, pages));
  XBASE_RETURN_IF_ERROR(file_->Sync());
  tag->def.root = root;
  std::vector<TagDef> saved = tags_;
  if (existing >= 0)
    tags_[slot] = tag->def;
  else
    tags_.push_back(tag->def);
  page_count_ += count;
  cached_tag_ = -1;
  Status s = WriteHeader();
  if (!s.ok()) {
    tags_ = std::move(saved);
    page_count_ -= count;
  }
  return s;
}

Status IndexFile::Scan(int tag, const std::function<Status(const IndexEntry&)>& visit) {
  if (tag < 0 || static_cast<size_t>(tag) >= tags_.size()) return Status::InvalidArgument("no such tag");
  const uint16_t key_len = tags_[static_cast<size_t>(tag)].key_len;
  // Leftmost leaf.
  uint32_t pg = tags_[static_cast<size_t>(tag)].root;
  std::string page;
  for (int depth = 0;; ++depth) {
    if (depth > 32) return Status::Corruption(path_ + ": tree too deep");
    XBASE_RETURN_IF_ERROR(ReadPage(pg, tag, &page));
    PageView v{&page, key_len};
    if (v.kind() == kLeaf) break;
    pg = v.child(0);
  }
  IndexEntry prev, cur;
  bool have_prev = false;
  for (uint32_t hops = 0;; ++hops) {
    if (hops > page_count_) return Status::Corruption(path_ + ": leaf chain loops");
    PageView v{&page, key_len};
    if (v.kind() != kLeaf) return Status::Corruption(path_ + ": leaf chain reaches an inner page");
    for (uint32_t i = 0; i < v.count(); ++i) {
      cur.key.assign(v.key(i));
      cur.recno = v.recno(i);
      if (have_prev && Compare(prev.key, prev.recno, cur.key, cur.recno) >= 0) {
        return Status::Corruption(path_ + ": tag " + tags_[static_cast<size_t>(tag)].name +
                                  " is out of order at record " + std::to_string(cur.recno));
      }
      XBASE_RETURN_IF_ERROR(visit(cur));
      prev = cur;
      have_prev = true;
    }
    if (v.next() == 0) break;
    XBASE_RETURN_IF_ERROR(ReadPage(v.next(), tag, &page));
  }
  return Status::OK();
}

Status IndexFile::Verify(int tag, const std::function<void(const std::string&)>& problem,
                         const std::function<void(const IndexEntry&)>& visit) {
  if (tag < 0 || static_cast<size_t>(tag) >= tags_.size()) return Status::InvalidArgument("no such tag");
  const uint16_t key_len = tags_[static_cast<size_t>(tag)].key_len;
  struct Bound {
    bool have = false;
    std::string key;
    uint32_t recno = 0;
  };
  std::vector<std::pair<uint32_t, uint32_t>> leaves;  // (page, its next leaf), in tree order
  std::vector<uint8_t> reached(page_count_, 0);
  IndexEntry prev, cur;
  bool have_prev = false;
  uint64_t position = 0;
  std::function<Status(uint32_t, int, const Bound&, const Bound&)> walk = [&](uint32_t pg, int depth, const Bound& lo,
                                                                              const Bound& hi) -> Status {
    if (depth > 32) return Status::Corruption(path_ + ": tree too deep");
    if (pg >= 1 && pg < page_count_) {
      if (reached[pg]) return Status::Corruption(path_ + ": page " + std::to_string(pg) + " is reached twice");
      reached[pg] = 1;
    }
    std::string page;
    XBASE_RETURN_IF_ERROR(ReadPage(pg, tag, &page, false));
    PageView v{&page, key_len};
    if (v.kind() == kLeaf) {
      leaves.emplace_back(pg, v.next());
      bool outside = false;
      for (uint32_t i = 0; i < v.count(); ++i) {
        cur.key.assign(v.key(i));
        cur.recno = v.recno(i);
        ++position;
        if ((lo.have && Compare(cur.key, cur.recno, lo.key, lo.recno) < 0) ||
            (hi.have && Compare(cur.key, cur.recno, hi.key, hi.recno) >= 0)) {
          outside = true;
        }
        if (have_prev && Compare(prev.key, prev.recno, cur.key, cur.recno) >= 0) {
          problem("keys out of order at entry " + std::to_string(position) + " (page " + std::to_string(pg) +
                  ", position " + std::to_string(i + 1) + "): record " + std::to_string(cur.recno) +
                  " comes after record " + std::to_string(prev.recno));
        }
        visit(cur);
        prev = cur;
        have_prev = true;
      }
      if (outside) problem("page " + std::to_string(pg) + " holds keys outside the range its parent gives it");
      return Status::OK();
    }
    for (uint32_t i = 0; i < v.count(); ++i) {
      Bound clo = lo, chi = hi;
      if (i > 0) clo = Bound{true, std::string(v.key(i)), v.recno(i)};
      if (i + 1 < v.count()) chi = Bound{true, std::string(v.key(i + 1)), v.recno(i + 1)};
      XBASE_RETURN_IF_ERROR(walk(v.child(i), depth + 1, clo, chi));
    }
    return Status::OK();
  };
  XBASE_RETURN_IF_ERROR(walk(tags_[static_cast<size_t>(tag)].root, 0, Bound{}, Bound{}));
  // Lookups step from leaf to leaf along the chain: it must link the leaves as the tree orders them.
  for (size_t k = 0; k < leaves.size(); ++k) {
    const uint32_t want = k + 1 < leaves.size() ? leaves[k + 1].first : 0;
    if (leaves[k].second != want) {
      problem("leaf page " + std::to_string(leaves[k].first) + " links to page " + std::to_string(leaves[k].second) +
              " instead of " + (want ? "page " + std::to_string(want) : std::string("the end")));
    }
  }
  return Status::OK();
}

}  // namespace xbase

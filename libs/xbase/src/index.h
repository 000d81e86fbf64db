// The compound index: one B+tree per tag in a single paged file. The layout is
// described in README.md ("Index file"). It is this engine's own format; a file
// with any other layout is reported as foreign and never read as an index.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "xbase/env.h"

namespace xbase {

struct TagDef {
  std::string name;
  std::string key_expr;
  std::string for_expr;
  char key_type = 'C';   // C character, N numeric, L logical, D date
  uint16_t key_len = 0;  // bytes of the stored key
  uint32_t root = 0;
};

struct IndexEntry {
  std::string key;
  uint32_t recno = 0;
};

// Entries of one tag, for bulk building. Sorted by BuildTag.
struct TagBuild {
  TagDef def;
  std::vector<IndexEntry> entries;
};

class IndexFile {
 public:
  static constexpr uint32_t kPageSize = 4096;
  static constexpr uint32_t kMaxKeyLength = 240;

  // Opens and validates the header. Foreign files give NotSupported, damaged ones Corruption.
  static Status Open(Env* env, const std::string& path, bool read_only, std::unique_ptr<IndexFile>* out);
  // Writes a complete new index file holding `tags` (entries are sorted here).
  static Status Create(Env* env, const std::string& path, std::vector<TagBuild>* tags, uint32_t table_count);
  // The same, with each tag built by `build` just before its pages are written, so only
  // one tag's entries are held at a time.
  static Status Create(Env* env, const std::string& path, size_t tag_count,
                       const std::function<Status(size_t, TagBuild*)>& build, uint32_t table_count);

  const std::vector<TagDef>& tags() const { return tags_; }
  int TagIndex(std::string_view name) const;
  bool dirty() const { return dirty_; }
  uint32_t table_count() const { return table_count_; }
  uint32_t page_count() const { return page_count_; }

  // Re-reads the header when another writer changed it. Call under the table lock.
  Status Refresh();
  // Marks the file as being updated; a process that dies before EndUpdate leaves
  // the mark behind and the index is then reported damaged.
  Status BeginUpdate();
  Status EndUpdate(uint32_t table_count);

  // Many updates under one table lock: pages read are kept (checked once), pages written are
  // kept and written by FlushCache, in page order, each with its checksum. Only between
  // BeginUpdate and EndUpdate, so that a process stopping before the flush leaves the file
  // marked as half-updated. EndCaching forgets what was not flushed.
  void BeginCaching() { caching_ = true; }
  Status FlushCache();
  void EndCaching();

  Status Insert(int tag, std::string_view key, uint32_t recno);
  Status Erase(int tag, std::string_view key, uint32_t recno);
  // First entry not below (key, recno); a short key is compared as a prefix.
  Status Seek(int tag, std::string_view key, uint32_t recno, bool* found, IndexEntry* out);
  // The entry after `cur`.
  Status Next(int tag, const IndexEntry& cur, bool* found, IndexEntry* out);
  // The last entry below (key, recno); with `last` true, the last entry of the tag.
  Status Prev(int tag, std::string_view key, uint32_t recno, bool last, bool* found, IndexEntry* out);
  // Adds a tag built from `tag.entries` (replacing one of the same name) by
  // appending its pages and then rewriting the header.
  Status AddTag(TagBuild* tag);
  // Visits every entry of a tag in order and checks the tree's structure.
  Status Scan(int tag, const std::function<Status(const IndexEntry&)>& visit);
  // For a consistency check: walks a tag's tree from its root, visiting every leaf entry
  // in the order the tree gives, and tells `problem` all that is wrong on the way without
  // stopping: entries out of order (every pair, the first of each leaf and the pairs
  // across leaves included), a leaf outside the range its parents give it, a leaf chain
  // that does not link the leaves in that order. A page that cannot be read at all
  // (outside the file, checksum, another tag's) ends the walk with Corruption.
  Status Verify(int tag, const std::function<void(const std::string&)>& problem,
                const std::function<void(const IndexEntry&)>& visit);

  static std::string PadKey(std::string_view key, uint16_t len);
  // Whether a file that is not this engine's index has the shape of a FoxPro CDX or IDX.
  static bool LooksLikeFoxProIndex(const char* header, size_t got, uint64_t size);

 private:
  Status ReadHeader();
  Status WriteHeader();
  // Reads and checks a page; with check_order, entries out of order are Corruption too.
  Status ReadPage(uint32_t pgno, int tag, std::string* page, bool check_order = true);
  Status WritePage(uint32_t pgno, std::string* page);
  // The same for a page its caller is done with: kept without a copy while caching.
  Status WritePage(uint32_t pgno, std::string&& page);
  Status BuildPages(TagBuild* tag, uint32_t first_page, std::string* pages, uint32_t* root, uint32_t* count);
  Status LastInSubtree(int tag, uint32_t pg, int depth, bool* found, IndexEntry* out);
  Status FindLeaf(int tag, std::string_view key, uint32_t recno, std::vector<std::pair<uint32_t, std::string>>* path,
                  std::vector<int>* slots);

  std::unique_ptr<File> file_;
  std::string path_;
  std::vector<TagDef> tags_;
  uint32_t page_count_ = 1;
  uint32_t table_count_ = 0;
  uint32_t generation_ = 0;
  bool dirty_ = false;
  // The last leaf read by Seek/Next, reused while the file is unchanged.
  uint32_t cached_leaf_ = 0;
  int cached_tag_ = -1;
  std::string cached_page_;
  bool caching_ = false;
  std::map<uint32_t, std::string> page_cache_;
  std::set<uint32_t> unwritten_;
};

}  // namespace xbase

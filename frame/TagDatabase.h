#pragma once
// The tag database: TagTable with its two keyed indexes, one per thread for each deliverable
// (plcframe is linked statically into every plug-in, so each plug-in has its own), reached
// through Tags(). The loader (frame/DatabaseFiles.h) fills it from a tag file; AddTag is its door,
// and the tests'.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Variant.h"

namespace plc {

// A keyed collection as hosts know it: items in the order they were added, reached by text key
// (compared without regard to case) or by 1-based position.
class KeyedIndex {
 public:
  std::optional<std::int32_t> ByKey(std::string_view key) const;
  std::optional<std::int32_t> ByPosition(std::int32_t position) const;
  // False, and nothing added, when the key is already present.
  bool Add(std::string key, std::int32_t item);
  bool Contains(std::string_view key) const { return ByKey(key).has_value(); }
  std::size_t Count() const { return items_.size(); }

 private:
  std::vector<std::pair<std::string, std::int32_t>> items_;
};

// The fields of a tag record that the lookups read; the record's other fields are read by no
// operation and are not kept.
struct TagRecord {
  Variant name;     // text
  Variant address;  // a number or an address string
};

class TagDatabase {
 public:
  static constexpr std::int32_t kLastIndex = 2000;

  TagDatabase() : TagTable(kLastIndex + 1) {}

  // Record index, or nullptr outside 0..2000.
  const TagRecord* Record(std::int32_t index) const;
  // The indexes, created empty on first use.
  KeyedIndex& TagIndexByName();
  KeyedIndex& TagIndexByAddress();

  // Stores record index and registers its name and its address text in the indexes. False, and
  // nothing changed, for an index outside 1..2000, an empty name, or a name or address that is
  // already registered. Record 0 stays empty: a failed lookup reads it, so an unknown name must
  // never find a real tag there.
  bool AddTag(std::int32_t index, const Variant& name, const Variant& address);
  // As AddTag, but an address that another tag already has is no refusal: the record is stored
  // and the reverse lookup keeps finding the first tag of that address (two tags may read one
  // register, as a number and as one of its bits).
  bool AddTagSharingAddress(std::int32_t index, const Variant& name, const Variant& address);
  // Back to the empty state of a fresh thread.
  void Clear();

  std::vector<TagRecord> TagTable;

 private:
  std::optional<KeyedIndex> byName_;
  std::optional<KeyedIndex> byAddress_;

  bool Add(std::int32_t index, const Variant& name, const Variant& address, bool shareAddress);
};

// This thread's tag database of this deliverable.
TagDatabase& Tags();

// The address field of the tag named name, the name field of the tag registered under Address.
// A text argument is a key, a numeric one a 1-based position in the index. A failed lookup takes
// record 0; an index outside 0..2000 gives Empty. Never raises an error.
Variant TagAddressFromName(const Variant& name, TagDatabase& db = Tags());
Variant TagNameFromAddress(const Variant& Address, TagDatabase& db = Tags());

// The record of a tag name, for address resolution: null when the name is not present or its
// index (as registered, possibly outside 0..2000) holds no record.
const TagRecord* TagRecordOfName(const std::string& name, TagDatabase& db = Tags());

// Kept for hosts: the databases are edited as files (a spreadsheet or a text editor), not by a
// dialog of the control, so it does nothing.
void EditScanDatabase();

}  // namespace plc

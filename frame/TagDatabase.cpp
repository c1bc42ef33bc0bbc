#include "frame/TagDatabase.h"

#include <cctype>

#include "base/RuntimeError.h"

namespace plc {

namespace {

bool KeysEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// The index item for a lookup argument: a text is a key, a number a position; anything else,
// or a conversion that fails, finds nothing.
std::optional<std::int32_t> Lookup(const KeyedIndex& index, const Variant& arg) {
  try {
    if (arg.IsString()) return index.ByKey(arg.ToString());
    if (arg.IsNumeric()) return index.ByPosition(arg.ToInt32());
  } catch (const RuntimeError&) {
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> KeyedIndex::ByKey(std::string_view key) const {
  for (const auto& [k, item] : items_)
    if (KeysEqual(k, key)) return item;
  return std::nullopt;
}

std::optional<std::int32_t> KeyedIndex::ByPosition(std::int32_t position) const {
  if (position < 1 || static_cast<std::size_t>(position) > items_.size()) return std::nullopt;
  return items_[static_cast<std::size_t>(position) - 1].second;
}

bool KeyedIndex::Add(std::string key, std::int32_t item) {
  if (Contains(key)) return false;
  items_.emplace_back(std::move(key), item);
  return true;
}

const TagRecord* TagDatabase::Record(std::int32_t index) const {
  if (index < 0 || index > kLastIndex) return nullptr;
  return &TagTable[static_cast<std::size_t>(index)];
}

KeyedIndex& TagDatabase::TagIndexByName() {
  if (!byName_) byName_.emplace();
  return *byName_;
}

KeyedIndex& TagDatabase::TagIndexByAddress() {
  if (!byAddress_) byAddress_.emplace();
  return *byAddress_;
}

bool TagDatabase::AddTag(std::int32_t index, const Variant& name, const Variant& address) {
  return Add(index, name, address, false);
}

bool TagDatabase::AddTagSharingAddress(std::int32_t index, const Variant& name, const Variant& address) {
  return Add(index, name, address, true);
}

bool TagDatabase::Add(std::int32_t index, const Variant& name, const Variant& address, bool shareAddress) {
  if (index < 1 || !Record(index) || name.IsArray() || address.IsArray()) return false;
  std::string nameKey, addressKey;
  try {
    nameKey = name.ToString();
    addressKey = address.ToString();
  } catch (const RuntimeError&) {
    return false;
  }
  if (nameKey.empty() || TagIndexByName().Contains(nameKey)) return false;
  const bool addressTaken = !addressKey.empty() && TagIndexByAddress().Contains(addressKey);
  if (addressTaken && !shareAddress) return false;
  TagIndexByName().Add(nameKey, index);
  if (!addressKey.empty() && !addressTaken) TagIndexByAddress().Add(addressKey, index);
  TagTable[static_cast<std::size_t>(index)] = {name, address};
  return true;
}

void TagDatabase::Clear() {
  TagTable.assign(kLastIndex + 1, TagRecord{});
  byName_.reset();
  byAddress_.reset();
}

TagDatabase& Tags() {
  thread_local TagDatabase db;
  return db;
}

Variant TagAddressFromName(const Variant& name, TagDatabase& db) {
  const TagRecord* rec = db.Record(Lookup(db.TagIndexByName(), name).value_or(0));
  return rec ? rec->address : Variant();
}

Variant TagNameFromAddress(const Variant& Address, TagDatabase& db) {
  const TagRecord* rec = db.Record(Lookup(db.TagIndexByAddress(), Address).value_or(0));
  return rec ? rec->name : Variant();
}

const TagRecord* TagRecordOfName(const std::string& name, TagDatabase& db) {
  const std::optional<std::int32_t> index = db.TagIndexByName().ByKey(name);
  return index ? db.Record(*index) : nullptr;
}

void EditScanDatabase() {}

}  // namespace plc

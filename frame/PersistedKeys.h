#pragma once
// Persisted properties as data.
//
// A control lists its property-bag keys once, as PersistedKey records: the key text, the
// Variant type the stored value is converted to, the read default (taken when the key is
// absent), the write default (the bag stores a key only when its value differs from it), how
// a read value is applied, and where the value to write comes from. A KeyTable holds the keys
// in read order and, separately, the order WriteProperties writes them in, so a control whose
// save order differs from its load order, or that writes a key it never reads back, says so
// in its table instead of in code.
//
// Reading is done in two passes: every key is read and converted first, then the values are
// applied in order. A value of the wrong type therefore fails the load, naming the key,
// before anything of the control has changed. An apply step that fails (a settings text the
// serial child refuses) leaves the keys applied before it in place; its error names the key.
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Dispatch.h"
#include "base/RuntimeError.h"
#include "base/Variant.h"
#include "platform/PropertyBag.h"

namespace plc {

template <class C>
struct PersistedKey {
  std::string key;
  VarType type = VarType::Empty;  // Empty: a variant key, kept as it was stored
  Variant readDefault;
  Variant writeDefault;
  std::function<void(C&, const Variant&)> apply;  // empty: written only, never read back
  std::function<Variant(C&)> source;
  bool ambientFontDefault = false;  // both defaults are the host's ambient font
};

template <class C>
class KeyTable {
 public:
  // `writeOrder` names the keys in the order WriteProperties writes them; empty: the order of
  // `keys`. Keys without an apply step are left out of reading.
  explicit KeyTable(std::vector<PersistedKey<C>> keys, const std::vector<std::string>& writeOrder = {})
      : keys_(std::move(keys)) {
    for (std::size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i].apply) readOrder_.push_back(i);
    if (writeOrder.empty()) {
      for (std::size_t i = 0; i < keys_.size(); ++i) writeOrder_.push_back(i);
    } else {
      for (const std::string& name : writeOrder) writeOrder_.push_back(IndexOf(name));
    }
  }

  void Read(C& control, PropertyBag& bag, const Font& ambient) const {
    std::vector<Variant> values;
    values.reserve(readOrder_.size());
    for (std::size_t i : readOrder_) {
      const PersistedKey<C>& k = keys_[i];
      Variant dflt = k.ambientFontDefault ? Variant(ambient) : k.readDefault;
      values.push_back(k.type == VarType::Empty ? bag.ReadProperty(k.key, dflt) : bag.ReadAs(k.key, k.type, dflt));
    }
    for (std::size_t n = 0; n < readOrder_.size(); ++n) {
      const PersistedKey<C>& k = keys_[readOrder_[n]];
      try {
        k.apply(control, values[n]);
      } catch (const RuntimeError& e) {
        // The control's or the line's own text says what is wrong; the key says where it is.
        throw RuntimeError(e.Number(), std::string(e.what()) + " in property \"" + k.key + "\"");
      }
    }
  }

  void Write(C& control, PropertyBag& bag, const Font& ambient) const {
    for (std::size_t i : writeOrder_) {
      const PersistedKey<C>& k = keys_[i];
      bag.WriteProperty(k.key, k.source(control), k.ambientFontDefault ? Variant(ambient) : k.writeDefault);
    }
  }

  std::vector<std::string> ReadOrder() const { return Names(readOrder_); }
  std::vector<std::string> WriteOrder() const { return Names(writeOrder_); }
  const PersistedKey<C>& Key(std::string_view name) const { return keys_[IndexOf(name)]; }

 private:
  std::size_t IndexOf(std::string_view name) const {
    for (std::size_t i = 0; i < keys_.size(); ++i)
      if (keys_[i].key == name) return i;
    throw std::logic_error("no persisted key " + std::string(name));
  }
  std::vector<std::string> Names(const std::vector<std::size_t>& order) const {
    std::vector<std::string> names;
    for (std::size_t i : order) names.push_back(keys_[i].key);
    return names;
  }

  std::vector<PersistedKey<C>> keys_;
  std::vector<std::size_t> readOrder_;
  std::vector<std::size_t> writeOrder_;
};

// A Variant as one of the member types a key may be kept in.
template <class M>
M VariantAs(const Variant& v) {
  if constexpr (std::is_same_v<M, Font>) return v.ToFont();
  else return dispatch_detail::Conv<M>::From(v);
}

// A key kept in one member of the control: `member(control)` gives a reference to it.
template <class C, class Member>
PersistedKey<C> MemberKey(std::string key, VarType type, Variant readDefault, Variant writeDefault, Member member) {
  using M = std::decay_t<std::invoke_result_t<Member, C&>>;
  PersistedKey<C> k;
  k.key = std::move(key);
  k.type = type;
  k.readDefault = std::move(readDefault);
  k.writeDefault = std::move(writeDefault);
  k.apply = [member](C& c, const Variant& v) { member(c) = VariantAs<M>(v); };
  k.source = [member](C& c) { return Variant(member(c)); };
  return k;
}

}  // namespace plc

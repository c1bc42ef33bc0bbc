#pragma once
// The host's property bag: where a control keeps its persisted properties between runs.
//
// ReadProperty gives the stored value, or the read default when the key is absent.
// WriteProperty stores a key only when the value differs from its write default (and removes
// a stored one that now equals it), so a document holds only what differs.
// ReadAs converts the stored value to the key's type; a value that does not convert is a
// run-time error that names the key.
#include <map>
#include <string>

#include "base/Variant.h"

namespace plc {

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  virtual Variant ReadProperty(const std::string& key, const Variant& readDefault) = 0;
  virtual void WriteProperty(const std::string& key, const Variant& value, const Variant& writeDefault) = 0;

  // The stored value converted to `type` (the default when absent); conversion errors name the key.
  Variant ReadAs(const std::string& key, VarType type, const Variant& readDefault);

 protected:
  // Whether a written value equals its write default: same type and value, or two numbers of
  // equal value whatever their integer, real or Boolean types.
  static bool SameAsDefault(const Variant& value, const Variant& writeDefault);
};

// A bag in memory, for tests and for hosts that keep their own documents.
class MemoryPropertyBag final : public PropertyBag {
 public:
  Variant ReadProperty(const std::string& key, const Variant& readDefault) override;
  void WriteProperty(const std::string& key, const Variant& value, const Variant& writeDefault) override;
  const std::map<std::string, Variant>& Values() const { return values_; }
  void Put(const std::string& key, const Variant& value) { values_[key] = value; }

 private:
  std::map<std::string, Variant> values_;
};

}  // namespace plc

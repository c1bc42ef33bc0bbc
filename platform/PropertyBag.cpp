#include "platform/PropertyBag.h"

#include "base/RuntimeError.h"

namespace plc {

Variant PropertyBag::ReadAs(const std::string& key, VarType type, const Variant& readDefault) {
  Variant stored = ReadProperty(key, readDefault);
  try {
    return stored.ConvertTo(type);
  } catch (const RuntimeError& e) {
    throw RuntimeError(e.Number(), std::string(e.what()) + " in property \"" + key + "\": expected " + TypeName(type));
  }
}

bool PropertyBag::SameAsDefault(const Variant& value, const Variant& writeDefault) {
  if (value == writeDefault) return true;
  return value.IsNumeric() && writeDefault.IsNumeric() && value.ToDouble() == writeDefault.ToDouble();
}

Variant MemoryPropertyBag::ReadProperty(const std::string& key, const Variant& readDefault) {
  auto it = values_.find(key);
  return it == values_.end() ? readDefault : it->second;
}

void MemoryPropertyBag::WriteProperty(const std::string& key, const Variant& value, const Variant& writeDefault) {
  if (SameAsDefault(value, writeDefault)) values_.erase(key);
  else values_[key] = value;
}

}  // namespace plc

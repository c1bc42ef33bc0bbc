// Address strings and tag lookups. Input: the address text, then after NUL bytes a tag name and
// its address. Parsing never raises; what it reads prints back to a canonical text that reads
// the same; a resolved address string agrees with the parser; a registered tag resolves to its
// address and is found both ways.
// fuzz-libs: plcframe
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame/AddressString.h"
#include "base/RuntimeError.h"
#include "frame/TagDatabase.h"

namespace {

constexpr std::int16_t kUnit = 7;

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const auto at = s.find('\0', from);
    parts.push_back(s.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

bool Numeric(const std::string& text) {
  try {
    plc::Variant(text).ToDouble();
    return true;
  } catch (const plc::RuntimeError&) {
    return false;
  }
}

std::string Canonical(const plc::AddressFields& f) {
  std::string s = std::to_string(f.unit);
  for (std::int16_t m : f.more) s += ";" + std::to_string(m);
  return s + ";" + std::to_string(f.reference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = Split(std::string(reinterpret_cast<const char*>(data), size));
  const std::string& text = parts[0];

  plc::AddressFields parsed;
  const bool ok = plc::ParseAddressString(text, parsed);
  const bool isString = text.find(';') != std::string::npos;
  if (ok && isString) {
    if (parsed.unit < 0) std::abort();
    for (std::int16_t m : parsed.more) {
      if (m < 0) std::abort();
    }
    // The canonical text holds the reference as the whole number it was rounded to.
    plc::AddressFields whole = parsed;
    whole.fractionRounded = false;
    plc::AddressFields again;
    if (!plc::ParseAddressString(Canonical(parsed), again) || !(again == whole)) std::abort();
  }

  plc::TagDatabase db;
  bool tagged = false;
  if (parts.size() >= 3) tagged = db.AddTag(1, plc::Variant(parts[1]), plc::Variant(parts[2]));

  const auto resolved = plc::ResolveAddress(text, kUnit, db);
  if (isString && !Numeric(text)) {
    if (resolved.has_value() != ok) std::abort();
    if (resolved && !(*resolved == parsed)) std::abort();
  }
  if (resolved && resolved->unit == -1) std::abort();

  if (tagged) {
    const std::string& name = parts[1];
    const std::string& address = parts[2];
    if (plc::TagAddressFromName(plc::Variant(name), db).ToString() != address) std::abort();
    // An empty address is kept but not registered for the reverse lookup.
    if (!address.empty() && plc::TagNameFromAddress(plc::Variant(address), db).ToString() != name) std::abort();
    if (name.find(';') == std::string::npos && !Numeric(name)) {
      plc::AddressFields want;
      const bool wantOk = plc::ParseAddressString(address, want);
      if (want.unit == -1) want.unit = kUnit;
      const auto byName = plc::ResolveAddress(name, kUnit, db);
      if (byName.has_value() != wantOk) std::abort();
      if (byName && !(*byName == want)) std::abort();
    }
  }
  return 0;
}

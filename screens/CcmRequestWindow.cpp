#include "screens/CcmRequestWindow.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

#include "ecom/HeiPasApi.h"
#include "ecom/HeiPasCalls.h"

namespace plc::screens {

namespace {

using ecom::kDeviceRetries;
using ecom::kHeiVersion;
using ecom::kRoomOffered;

constexpr std::uint16_t kHighestAddress = 0x3FFF;
constexpr std::uint16_t kLargestSize = 256;
constexpr std::size_t kLongestName = 32;

std::string Trimmed(const std::string& text) {
  const auto b = text.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

// Digits only in the given base, within max, or nullopt.
std::optional<unsigned> Number(const std::string& digits, int base, unsigned max) {
  if (digits.empty()) return std::nullopt;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (ec != std::errc() || end != digits.data() + digits.size() || value > max) return std::nullopt;
  return value;
}

// Hexadecimal text with an optional 0x in front or h behind.
std::optional<unsigned> Hex(std::string text, unsigned max) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  else if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) text.pop_back();
  return Number(text, 16, max);
}

std::string Hex2(unsigned byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte & 0xFFu);
  return text;
}

std::string Hex4(unsigned word) {
  char text[5];
  std::snprintf(text, sizeof text, "%04X", word & 0xFFFFu);
  return text;
}

bool Fail(CcmFieldError& error, std::string field, std::string message) {
  error = {std::move(field), std::move(message)};
  return false;
}

bool CheckData(const CcmFields& f, CcmRequest& r, CcmFieldError& error) {
  const bool registers = r.dataType == CcmDataType::Registers;
  const unsigned wanted = registers ? r.size / 2u : r.size;
  std::vector<std::string> values;
  std::string value;
  for (char c : f.data + " ") {
    if (c == ' ' || c == ',' || c == '\t' || c == ';') {
      if (!value.empty()) values.push_back(value);
      value.clear();
    } else {
      value += c;
    }
  }
  const char* unit = registers ? "register" : "byte";
  if (values.size() != wanted)
    return Fail(error, "Data",
                "Data: " + std::to_string(values.size()) + " value(s) given, Size " + std::to_string(r.size) +
                    " asks for " + std::to_string(wanted) + " " + unit + (wanted == 1 ? "" : "s"));
  for (std::size_t i = 0; i < values.size(); ++i) {
    auto v = Hex(values[i], registers ? 0xFFFFu : 0xFFu);
    if (!v)
      return Fail(error, "Data",
                  "Data value " + std::to_string(i + 1) + " '" + values[i] + "': hexadecimal " +
                      (registers ? "0000 to FFFF (one register)" : "00 to FF (one byte)"));
    if (registers) {
      r.data.push_back(static_cast<std::uint8_t>(*v & 0xFF));
      r.data.push_back(static_cast<std::uint8_t>(*v >> 8));
    } else {
      r.data.push_back(static_cast<std::uint8_t>(*v));
    }
  }
  return true;
}

}  // namespace

const char* DataTypeItem(CcmDataType type) {
  switch (type) {
    case CcmDataType::Registers: return "31 - Registers";
    case CcmDataType::Inputs: return "32 - Inputs";
    case CcmDataType::Outputs: return "33 - Outputs";
  }
  return "";
}

std::optional<CcmRequest> CheckCcmFields(const CcmFields& f, CcmFieldError& error) {
  CcmRequest r;
  r.protocol = f.protocol;
  r.query = f.query;
  r.dataType = f.dataType;
  r.write = f.write;
  if (f.query == CcmQuery::ModuleId) {
    const std::string id = Trimmed(f.moduleId);
    auto v = Number(id, 10, 255);
    if (!v) {
      Fail(error, "Module ID", "Module ID '" + f.moduleId + "': a whole number from 0 to 255");
      return std::nullopt;
    }
    r.moduleId = static_cast<std::uint8_t>(*v);
  } else {
    r.name = Trimmed(f.name);
    bool printable = true;
    for (char c : r.name) printable = printable && std::isprint(static_cast<unsigned char>(c));
    if (r.name.empty() || r.name.size() > kLongestName || !printable) {
      Fail(error, "Name", "Name '" + f.name + "': 1 to 32 printable characters");
      return std::nullopt;
    }
  }
  auto address = Hex(Trimmed(f.address), kHighestAddress);
  if (!address) {
    Fail(error, "Address", "Address '" + f.address + "': hexadecimal 0000 to 3FFF");
    return std::nullopt;
  }
  r.address = static_cast<std::uint16_t>(*address);
  auto size = Number(Trimmed(f.size), 10, kLargestSize);
  if (!size || *size == 0) {
    Fail(error, "Size", "Size '" + f.size + "': bytes, a whole number from 1 to 256");
    return std::nullopt;
  }
  r.size = static_cast<std::uint16_t>(*size);
  const bool registers = r.dataType == CcmDataType::Registers;
  if (registers && r.size % 2 != 0) {
    Fail(error, "Size", "Size " + std::to_string(r.size) + ": registers take two bytes each, so an even size");
    return std::nullopt;
  }
  const unsigned last = r.address + (registers ? r.size / 2u : r.size) - 1u;
  if (last > kHighestAddress) {
    Fail(error, "Size",
         "Size " + std::to_string(r.size) + " from Address " + Hex4(r.address) + " runs to " + Hex4(last) +
             ", past 3FFF");
    return std::nullopt;
  }
  if (r.write && !CheckData(f, r, error)) return std::nullopt;
  return r;
}

CcmOutcome RunCcmRequest(ecom::HeiPasApi& api, const CcmRequest& r) {
  CcmOutcome out;
  auto say = [&out](std::string text) { out.messages.push_back(std::move(text)); };
  // A failed call's text with its code, and the library's own words for it where it has some.
  auto failed = [&api](const char* text, int rc) {
    std::string detail = api.ErrorDetail();
    return ecom::RcText(text, rc) + (detail.empty() ? "" : " (" + detail + ")");
  };
  bool transportOpen = false, deviceOpen = false;
  HEITransport transport{};
  std::array<HEIDevice, kRoomOffered + 1> devices{};

  int rc = api.Open(kHeiVersion);
  if (rc != 0) {
    say(failed("Unable to Initialize the driver: rc= ", rc));
    return out;
  }
  [&] {
    transport.Transport = 4;
    transport.Protocol = r.protocol == CcmProtocol::UseIP ? 3 : 2;
    rc = api.OpenTransport(transport, kHeiVersion, 0);
    if (rc != 0) return say(failed("Unable to Open Winsock Transport: rc= ", rc));
    transportOpen = true;

    std::int32_t count = kRoomOffered;
    if (r.query == CcmQuery::ModuleId) {
      const std::uint8_t id[4] = {r.moduleId, 0, 0, 0};
      rc = api.QueryDeviceData(transport, devices.data(), count, kHeiVersion, 0x20, id, 4);
    } else {
      rc = api.QueryDeviceData(transport, devices.data(), count, kHeiVersion, 0x16,
                               reinterpret_cast<const std::uint8_t*>(r.name.data()),
                               static_cast<std::uint16_t>(r.name.size()));
    }
    if (rc != 0) return say(failed("Error Querying the Network: rc= ", rc));
    if (count <= 0)
      return say(r.query == CcmQuery::ModuleId
                     ? "No device(s) with Module ID '" + std::to_string(r.moduleId) + "' found!"
                     : "No device(s) with Name '" + r.name + "' found!");
    say("Found " + std::to_string(count) + " Device(s)");

    HEIDevice& device = devices[0];
    std::int16_t flag = 0;
    rc = api.OpenDevice(transport, device, kHeiVersion, r.timeoutMs, kDeviceRetries, flag);
    if (rc != 0) return say(failed("Unable to Open the Device: rc= ", rc));
    deviceOpen = true;

    const ecom::DeviceDefinition definition = ecom::ReadDeviceDefinition(api, device);
    if (definition.rc != 0) return say(failed("Error Reading Device Definition: rc= ", definition.rc));
    if (!definition.ecom) return say(ecom::kNotEcomText);

    const bool registers = r.dataType == CcmDataType::Registers;
    const auto dataType = static_cast<std::uint8_t>(r.dataType);
    // At most 3FFF + 1: within 16 bits.
    const auto wire = static_cast<std::int16_t>(ecom::ModuleAddress(dataType, r.address));
    std::array<std::uint8_t, ecom::kCcmBufferSize> buffer{};
    std::copy(r.data.begin(), r.data.end(), buffer.begin());
    rc = api.CcmRequest(device, r.write ? 1 : 0, dataType, wire, r.size, buffer.data());
    if (rc != 0) return say(failed("Error performing PASCAL_HEICCMRequest: rc= ", rc));
    out.ok = true;
    if (r.write) return say("Wrote " + std::to_string(r.size) + " bytes starting at Address " + Hex4(r.address));
    out.bytes.assign(buffer.begin(), buffer.begin() + r.size);
    std::string bytes;
    for (std::uint8_t b : out.bytes) bytes += (bytes.empty() ? "" : " ") + Hex2(b);
    say("Results--> " + bytes);
    if (registers) {
      std::string words;
      for (std::size_t i = 0; i + 1 < out.bytes.size(); i += 2)
        words += (words.empty() ? "" : " ") + Hex4(out.bytes[i] + 256u * out.bytes[i + 1]);
      say("Registers--> " + words);
    }
  }();

  // The last close's code, as the transport's own close reports it.
  int last = 0;
  if (deviceOpen && (last = api.CloseDevice(devices[0])) != 0) say(failed("Unable to Close the Device: rc= ", last));
  if (transportOpen && (last = api.CloseTransport(transport)) != 0)
    say(failed("Unable to Close the Transport: rc= ", last));
  if ((last = api.Close()) != 0) say(failed("Unable to Close the driver: rc= ", last));
  say(ecom::RcText("Closed  rc= ", last));
  return out;
}

std::optional<CcmRequest> CcmRequestWindow::Check() {
  CcmFieldError error;
  auto request = CheckCcmFields(fields, error);
  if (!request) {
    results_.push_back(error.message);
    return std::nullopt;
  }
  request->timeoutMs = timeoutMs;
  return request;
}

CcmOutcome CcmRequestWindow::Run(const CcmRequest& request) {
  std::string why;
  std::unique_ptr<ecom::HeiPasApi> api = loader_ ? loader_(why) : ecom::LoadHeiPasLibrary(why);
  if (!api) return {false, {"Unable to Initialize the driver: rc= -1 (" + why + ")"}, {}};
  return RunCcmRequest(*api, request);
}

void CcmRequestWindow::Show(const CcmOutcome& outcome) {
  results_.insert(results_.end(), outcome.messages.begin(), outcome.messages.end());
}

bool CcmRequestWindow::DoRequest() {
  auto request = Check();
  if (!request) return false;
  CcmOutcome outcome = Run(*request);
  Show(outcome);
  return outcome.ok;
}

std::string CcmRequestWindow::ResultText() const {
  std::string text;
  for (const std::string& line : results_) text += line + "\n";
  return text;
}

}  // namespace plc::screens

#include "ecom/CcmForm.h"

#include <cmath>

#include "base/RuntimeError.h"
#include "ecom/EcomAddress.h"

namespace plc::ecom {

// A whole number within lo..hi, or nullopt.
std::optional<std::int32_t> WholeIn(const Variant& v, double lo, double hi) {
  if (!v.IsNumeric() && !v.IsString()) return std::nullopt;
  double d;
  try {
    d = v.ToDouble();
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
  if (!(d >= lo && d <= hi) || d != std::floor(d)) return std::nullopt;
  return static_cast<std::int32_t>(d);
}

std::string CcmForm::Failed(const char* text, int rc) {
  detail_ = api_ ? api_->ErrorDetail() : std::string();
  return RcText(text, rc);
}

CcmForm::~CcmForm() {
  if (libraryOpen_) EtherCCMClose();
}

void CcmForm::ClearTrace() {
  trace_ = {};
  if (api_ && libraryOpen_) api_->SetTrace({});
}

void CcmForm::EtherCCMOpen(std::string& errorText, std::int16_t protocol, std::int16_t deviceTimeOut) {
  // A repeated open would otherwise leave the earlier devices and socket open.
  if (libraryOpen_) EtherCCMClose();
  errorText.clear();
  detail_.clear();
  StationMap.fill(0);
  DeviceCount = kRoomOffered;
  // A failure leaves no device and its text.
  auto fail = [&](std::string text) {
    errorText = std::move(text);
    DeviceCount = 0;
  };
  if (!api_) {
    std::string why;
    api_ = loader_(why);
    if (!api_) return fail("Unable to Initialize the driver: rc= -1 (" + why + ")");
  }
  int rc = api_->Open(kHeiVersion);
  if (rc != 0) return fail(Failed("Unable to Initialize the driver: rc= ", rc));
  libraryOpen_ = true;
  api_->SetTrace(trace_);
  TransportRecord = HEITransport{};
  TransportRecord.Transport = 4;
  TransportRecord.Protocol = static_cast<std::uint16_t>(protocol);
  rc = api_->OpenTransport(TransportRecord, kHeiVersion, 0);
  if (rc != 0) return fail(Failed("Unable to Open Winsock Transport: rc= ", rc));
  transportOpen_ = true;
  DeviceTable.fill(HEIDevice{});
  rc = api_->QueryDevices(TransportRecord, DeviceTable.data(), DeviceCount, kHeiVersion);
  // A failed query leaves the count as the library left it (the room offered, 20): opening
  // that many empty records would only bury the cause under "Unable to Open the Device".
  if (rc != 0) return fail(Failed("Error Querying the Network: rc= ", rc));
  // The library may not report more devices than the room offered.
  if (DeviceCount > kRoomOffered) DeviceCount = kRoomOffered;
  if (DeviceCount <= 0) return fail(Failed("No ECOM Devices: rc= ", rc));
  for (std::int32_t i = 0; i < DeviceCount; ++i) {
    std::int16_t flag = 0;
    rc = api_->OpenDevice(TransportRecord, DeviceTable[static_cast<std::size_t>(i)], kHeiVersion,
                          static_cast<std::uint16_t>(deviceTimeOut), kDeviceRetries, flag);
    if (rc != 0) {
      errorText = Failed("Unable to Open the Device: rc= ", rc);
    } else {
      openDevices_.push_back(i);
    }
  }
  GetIDs(errorText);
}

void CcmForm::GetIDs(std::string& errorText) {
  for (std::int32_t i = 0; i < DeviceCount; ++i) {
    std::array<std::uint8_t, 256> setup{};
    std::int16_t length = 4;
    const int rc = api_->ReadSetupData(DeviceTable[static_cast<std::size_t>(i)], 0x20, setup.data(), length);
    if (rc != 0) errorText = Failed("Unable to Open the Device: rc= ", rc);
    StationMap[setup[0]] = static_cast<std::int16_t>(i + 1);
  }
}

void CcmForm::EtherCCMRead(std::int32_t station, std::int32_t address, std::int32_t size, const Variant& values,
                           std::uint8_t dataType, bool write, std::string& errorText) {
  errorText.clear();
  detail_.clear();
  if (station < 0 || station > 255) throw RuntimeError(err::Subscript);
  if (StationMap[static_cast<std::size_t>(station)] <= 0 || !api_) {
    errorText = "Error: invalid device address " + std::to_string(station);
    std::string found;
    for (std::size_t id = 0; id < StationMap.size(); ++id) {
      if (StationMap[id] > 0) found += (found.empty() ? "" : ", ") + std::to_string(id);
    }
    detail_ = !libraryOpen_ ? std::string("the ECOM transport is not open (PortOpen)")
                            : "no module with ID " + std::to_string(station) + " answered when the port was opened (" +
                                  (found.empty() ? std::string("none did") : "IDs found: " + found) + ")";
    return;
  }
  const auto index = static_cast<std::size_t>(StationMap[static_cast<std::size_t>(station)] - 1);
  HEIDevice& device = DeviceTable[index];

  const DeviceDefinition definition = ReadDeviceDefinition(*api_, device);
  if (definition.rc != 0) {
    errorText = Failed("Error Reading Device Definition: rc= ", definition.rc);
    return;
  }
  if (!definition.ecom) {
    errorText = kNotEcomText;
    return;
  }

  const bool registers = dataType == kRegisters;
  const std::int64_t length = registers ? 2 * std::int64_t{size} : size;
  if (length < 1 || length > static_cast<std::int64_t>(kCcmBufferSize)) {
    errorText = "Error: CCM request length " + std::to_string(length) + " outside 1..1001 bytes";
    return;
  }
  // Register addresses count from 1 on the module and travel as a signed 16-bit number; one
  // beyond 16 bits would wrap to another address, so it is refused.
  const std::int64_t onModule = ModuleAddress(dataType, address);
  if (onModule < 0 || onModule > 0xFFFF) {
    errorText = "Error: CCM address " + std::to_string(onModule) + " outside 0..65535";
    return;
  }
  const auto wire = static_cast<std::int16_t>(static_cast<std::uint16_t>(onModule));
  if (write && !PackValues(values, size, dataType, errorText)) return;

  // A failed request is tried once more; only the second failure is reported.
  auto request = [&] {
    return api_->CcmRequest(device, write ? 1 : 0, dataType, wire, static_cast<std::uint16_t>(length), buffer_.data());
  };
  int rc = request();
  if (rc != 0) rc = request();
  if (rc != 0) {
    errorText = Failed("Error 2 performing PASCAL_HEICCMRequest: rc= ", rc);
    return;
  }
  if (!write) UnpackWords(static_cast<std::int32_t>(length));
}

bool CcmForm::PackValues(const Variant& values, std::int32_t size, std::uint8_t dataType, std::string& errorText) {
  const bool registers = dataType == kRegisters;
  if (!values.IsArray() && size > 1) {
    errorText = "Error: " + std::to_string(size) + " values to write but only one given";
    return false;
  }
  for (std::int32_t k = 1; k <= size; ++k) {
    if (values.IsArray() && !values.Array().Contains(k)) {
      errorText = "Error: value " + std::to_string(k) + " to write is missing";
      return false;
    }
    const Variant& v = values.IsArray() ? values.Array().Get(k) : values;
    // Registers take 0..65535, inputs and outputs one byte per value: a value that does not
    // fit is refused, never wrapped (-1 is not 65535) or rounded.
    const auto whole = registers ? WholeIn(v, 0, 65535) : WholeIn(v, 0, 255);
    if (!whole) {
      errorText = "Error: value " + std::to_string(k) + " (" + ShownText(v) + ") does not fit " +
                  (registers ? "a register (a whole number 0..65535)" : "a byte (a whole number 0..255)");
      return false;
    }
    if (registers) {
      const auto word = static_cast<std::uint16_t>(*whole);
      buffer_[2 * static_cast<std::size_t>(k - 1)] = static_cast<std::uint8_t>(word & 0xFF);
      buffer_[2 * static_cast<std::size_t>(k - 1) + 1] = static_cast<std::uint8_t>(word >> 8);
    } else {
      buffer_[static_cast<std::size_t>(k - 1)] = static_cast<std::uint8_t>(*whole);
    }
  }
  return true;
}

// Two bytes per word, low byte first, for every data type: inputs and outputs then read as
// 16 consecutive bits per word, which is what the bit walk of a read expects. A byte past the
// length counts 0.
void CcmForm::UnpackWords(std::int32_t length) {
  for (std::int32_t i = 0, k = 1; i < length; i += 2, ++k) {
    const std::int32_t high = i + 1 < length ? buffer_[static_cast<std::size_t>(i + 1)] : 0;
    CcmWords[static_cast<std::size_t>(k)] = buffer_[static_cast<std::size_t>(i)] + 256 * high;
  }
}

std::string CcmForm::EtherCCMClose() {
  std::string status;
  int rc = 0;
  if (api_ && libraryOpen_) {
    for (std::int32_t i : openDevices_) {
      rc = api_->CloseDevice(DeviceTable[static_cast<std::size_t>(i)]);
      if (rc != 0) status = RcText("Unable to Close the Device: rc= ", rc);
    }
    if (transportOpen_) {
      rc = api_->CloseTransport(TransportRecord);
      if (rc != 0) status = RcText("Unable to Close the Transport: rc= ", rc);
    }
    rc = api_->Close();
    if (rc != 0) status = RcText("Unable to Close the driver: rc= ", rc);
  }
  openDevices_.clear();
  transportOpen_ = false;
  libraryOpen_ = false;
  StationMap.fill(0);
  DeviceCount = 0;
  return status.empty() ? RcText("Closed  rc= ", rc) : status;
}

}  // namespace plc::ecom

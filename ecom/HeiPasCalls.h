#pragma once
// What the ECOM transport (CcmForm) and udplink's CCM window share of the hei_pas call
// sequence: the arguments both pass, the texts of a failed call, the device definition check
// and the address a CCM request carries.
#include <cstdint>
#include <string>

#include "ecom/HeiPasApi.h"

namespace plc::ecom {

inline constexpr std::uint16_t kHeiVersion = 2;      // the library version both ask for
inline constexpr std::uint16_t kDeviceRetries = 3;   // per device open
inline constexpr std::int32_t kRoomOffered = 20;     // device records a query may fill
inline constexpr std::size_t kCcmBufferSize = 1001;  // bytes of one CCM request at most
inline constexpr const char* kNotEcomText = "This device is not an ECOM, cannot continue!";

// A failure text and the library's code: "Unable to Open the Device: rc= " and 8.
std::string RcText(const char* text, int rc);

// The device definition's verdict: rc the library's code (0: read), ecom whether it says ECOM.
struct DeviceDefinition {
  int rc = 0;
  bool ecom = false;
};
DeviceDefinition ReadDeviceDefinition(HeiPasApi& api, HEIDevice& device);

// Where a CCM request for `address` goes on the module: registers (31h) count from 1 there.
inline std::int64_t ModuleAddress(std::uint8_t dataType, std::int64_t address) {
  return dataType == 0x31 ? address + 1 : address;
}

}  // namespace plc::ecom

#include "ecom/HeiPasCalls.h"

#include <array>

namespace plc::ecom {

namespace {
constexpr std::uint16_t kDefinitionLength = 42;
}  // namespace

std::string RcText(const char* text, int rc) { return std::string(text) + std::to_string(rc); }

DeviceDefinition ReadDeviceDefinition(HeiPasApi& api, HEIDevice& device) {
  std::array<std::uint8_t, kDefinitionLength + 2> definition{};
  const int rc = api.ReadDeviceDef(device, definition.data(), kDefinitionLength);
  return {rc, rc == 0 && definition[2] == 1};
}

}  // namespace plc::ecom

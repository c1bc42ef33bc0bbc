#pragma once
// The hei_pas transport functions as the ECOM transport calls them: one virtual per library
// function, so that the transport runs against the library loaded at run time or a test's own.
// Records and codes are those of the library's header.
#include <cstdint>
#include <memory>
#include <string>

#include "ecom/heipas/hei_pas.h"
#include "platform/SerialPort.h"

namespace plc::ecom {

class HeiPasApi {
 public:
  virtual ~HeiPasApi() = default;
  virtual int Open(std::uint16_t version) = 0;
  virtual int OpenTransport(HEITransport& transport, std::uint16_t version, std::uint32_t netAddress) = 0;
  virtual int QueryDevices(HEITransport& transport, HEIDevice* devices, std::int32_t& count, std::uint16_t version) = 0;
  virtual int QueryDeviceData(HEITransport& transport, HEIDevice* devices, std::int32_t& count, std::uint16_t version,
                              std::uint16_t dataType, const std::uint8_t* data, std::uint16_t dataLength) = 0;
  virtual int OpenDevice(HEITransport& transport, HEIDevice& device, std::uint16_t version, std::uint16_t timeout,
                         std::uint16_t retries, std::int16_t& flag) = 0;
  virtual int ReadSetupData(HEIDevice& device, std::uint16_t setupType, std::uint8_t* buffer, std::int16_t& length) = 0;
  virtual int ReadDeviceDef(HEIDevice& device, std::uint8_t* buffer, std::uint16_t length) = 0;
  virtual int CcmRequest(HEIDevice& device, std::uint16_t write, std::uint8_t dataType, std::int16_t address,
                         std::uint16_t length, std::uint8_t* buffer) = 0;
  virtual int CloseDevice(HEIDevice& device) = 0;
  virtual int CloseTransport(HEITransport& transport) = 0;
  virtual int Close() = 0;
  // The library's own words for its last failure on this thread; empty when it has none (or
  // cannot give them).
  virtual std::string ErrorDetail() { return {}; }
  // Every datagram sent and received, while the library is open (an empty hook: none). A
  // library that cannot trace ignores it.
  virtual void SetTrace(TraceHook) {}
};

// Binds libhei_pas.so by name (or the path in HEI_PAS_LIBRARY) and resolves all eleven
// functions, and HEIErrorDetail and HEISetTrace when it has them. nullptr, with why naming the
// library and what failed, when it cannot be loaded or lacks one of the eleven.
std::unique_ptr<HeiPasApi> LoadHeiPasLibrary(std::string& why);

}  // namespace plc::ecom

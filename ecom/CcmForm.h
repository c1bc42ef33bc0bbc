#pragma once
// CCM_FORM: the ECOM transport of one thread. It opens hei_pas, queries and opens the modules,
// maps module IDs to devices (StationMap) and runs one CCM request per EtherCCMRead, with the
// library's return code in every failure text.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "ecom/HeiPasApi.h"
#include "ecom/HeiPasCalls.h"

namespace plc::ecom {

// CcmWords: the words of the latest read from index 1 (index 0..1000).
using CcmWordArray = std::array<std::int32_t, kCcmBufferSize>;

class CcmForm {
 public:
  using ApiLoader = std::function<std::unique_ptr<HeiPasApi>(std::string& why)>;
  // Reads land in words, which the link state owns: the serial engine fills the same array.
  CcmForm(CcmWordArray& words, ApiLoader loader = LoadHeiPasLibrary) : CcmWords(words), loader_(std::move(loader)) {}
  ~CcmForm();
  CcmForm(const CcmForm&) = delete;
  CcmForm& operator=(const CcmForm&) = delete;

  // Opens everything and builds StationMap; errorText is empty on success, else the last
  // failure. What an earlier open left open is closed first. A library that cannot be loaded
  // gives "Unable to Initialize the driver: rc= -1 (why)". A failed query ends the open with
  // its own text and no device.
  void EtherCCMOpen(std::string& errorText, std::int16_t protocol, std::int16_t deviceTimeOut);
  // Reads each device's module ID into StationMap (a later device with the same ID wins).
  void GetIDs(std::string& errorText);
  // One request to the module with ID station: a read leaves its values in CcmWords from index
  // 1; a write sends values (an array from index 1, or one value). errorText is empty on success.
  // A station outside 0..255 is a subscript error (9). Values that do not fit the bytes they go
  // to (registers 0..65535, bytes 0..255, whole numbers), too few values, or a length outside
  // 1..1001 bytes fail with a text and no request.
  void EtherCCMRead(std::int32_t station, std::int32_t address, std::int32_t size, const Variant& values,
                    std::uint8_t dataType, bool write, std::string& errorText);
  // Closes every device opened, the transport and the library; the status text of the Part's
  // form ("Closed  rc= 0" when all went well). Nothing to close gives "Closed  rc= 0" too.
  std::string EtherCCMClose();

  bool IsOpen() const { return libraryOpen_; }
  // The library's own words for the failure behind the last failure text (empty when it gave
  // none, or the failure was not the library's).
  const std::string& FailureDetail() const { return detail_; }
  // Datagrams the library sends and receives go to hook, from the next open on.
  void SetTrace(TraceHook hook) { trace_ = std::move(hook); }
  // No datagram goes to the hook any more, from now on: its owner is going away.
  void ClearTrace();
  // Forgets what is open without calling the library: at thread exit the library's own
  // per-thread state may already be gone, and it closes its sockets itself.
  void Abandon() {
    libraryOpen_ = transportOpen_ = false;
    openDevices_.clear();
  }

  HEITransport TransportRecord{};
  std::array<HEIDevice, kRoomOffered + 1> DeviceTable{};
  std::int32_t DeviceCount = 0;
  std::array<std::int16_t, 256> StationMap{};
  CcmWordArray& CcmWords;

 private:
  // Fills the CCM buffer for a write; false with a text when a value does not fit.
  bool PackValues(const Variant& values, std::int32_t size, std::uint8_t dataType, std::string& errorText);
  void UnpackWords(std::int32_t length);
  // The failure text for a library code, keeping the library's detail.
  std::string Failed(const char* text, int rc);

  ApiLoader loader_;
  std::unique_ptr<HeiPasApi> api_;
  bool libraryOpen_ = false;
  bool transportOpen_ = false;
  std::vector<std::int32_t> openDevices_;
  std::array<std::uint8_t, kCcmBufferSize> buffer_{};
  std::string detail_;
  TraceHook trace_;
};

// A value to write as a whole number within lo..hi, or nullopt.
std::optional<std::int32_t> WholeIn(const Variant& v, double lo, double hi);

}  // namespace plc::ecom

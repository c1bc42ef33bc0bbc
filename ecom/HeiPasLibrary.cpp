// hei_pas bound at run time: the library is found by name and every function resolved before
// any is called, so a missing library or function is an open failure, never a crash.
#include <chrono>
#include <cstdlib>

#include "base/RuntimeError.h"
#include "ecom/HeiPasApi.h"
#include "platform/SharedLibrary.h"

namespace plc::ecom {
namespace {

class HeiPasLibrary final : public HeiPasApi {
 public:
  explicit HeiPasLibrary(SharedLibrary library) : library_(std::move(library)) {}

  // Resolves every function; false with the first missing name in why.
  bool Bind(std::string& why) {
    return Resolve("PASCAL_HEIOpen", open_, why) && Resolve("PASCAL_HEIOpenTransport", openTransport_, why) &&
           Resolve("PASCAL_HEIQueryDevices", queryDevices_, why) &&
           Resolve("PASCAL_HEIQueryDeviceData", queryDeviceData_, why) &&
           Resolve("PASCAL_HEIOpenDevice", openDevice_, why) &&
           Resolve("PASCAL_HEIReadSetupData", readSetupData_, why) &&
           Resolve("PASCAL_HEIReadDeviceDef", readDeviceDef_, why) &&
           Resolve("PASCAL_HEICCMRequest", ccmRequest_, why) && Resolve("PASCAL_HEICloseDevice", closeDevice_, why) &&
           Resolve("PASCAL_HEICloseTransport", closeTransport_, why) && Resolve("PASCAL_HEIClose", close_, why) &&
           Optional("HEIErrorDetail", errorDetail_) && Optional("HEISetTrace", setTrace_);
  }

  int Open(std::uint16_t version) override { return open_(version); }
  int OpenTransport(HEITransport& t, std::uint16_t version, std::uint32_t net) override {
    return openTransport_(&t, version, net);
  }
  int QueryDevices(HEITransport& t, HEIDevice* devices, std::int32_t& count, std::uint16_t version) override {
    return queryDevices_(&t, devices, &count, version);
  }
  int QueryDeviceData(HEITransport& t, HEIDevice* devices, std::int32_t& count, std::uint16_t version,
                      std::uint16_t dataType, const std::uint8_t* data, std::uint16_t dataLength) override {
    return queryDeviceData_(&t, devices, &count, version, dataType, data, dataLength);
  }
  int OpenDevice(HEITransport& t, HEIDevice& d, std::uint16_t version, std::uint16_t timeout, std::uint16_t retries,
                 std::int16_t& flag) override {
    return openDevice_(&t, &d, version, timeout, retries, &flag);
  }
  int ReadSetupData(HEIDevice& d, std::uint16_t type, std::uint8_t* buffer, std::int16_t& length) override {
    return readSetupData_(&d, type, buffer, &length);
  }
  int ReadDeviceDef(HEIDevice& d, std::uint8_t* buffer, std::uint16_t length) override {
    return readDeviceDef_(&d, buffer, length);
  }
  int CcmRequest(HEIDevice& d, std::uint16_t write, std::uint8_t type, std::int16_t address, std::uint16_t length,
                 std::uint8_t* buffer) override {
    return ccmRequest_(&d, write, type, address, length, buffer);
  }
  int CloseDevice(HEIDevice& d) override { return closeDevice_(&d); }
  int CloseTransport(HEITransport& t) override { return closeTransport_(&t); }
  int Close() override { return close_(); }
  std::string ErrorDetail() override {
    const char* text = errorDetail_ ? errorDetail_() : nullptr;
    return text ? text : "";
  }
  void SetTrace(TraceHook hook) override {
    if (!setTrace_) return;
    trace_ = std::move(hook);
    setTrace_(trace_ ? &HeiPasLibrary::Traced : nullptr, this);
  }

 private:
  // A function of the project's own library that another hei_pas may lack.
  template <class F>
  bool Optional(const char* name, F*& fn) {
    fn = library_.Function<F>(name);
    return true;
  }
  template <class F>
  bool Resolve(const char* name, F*& fn, std::string& why) {
    fn = library_.Function<F>(name);
    if (!fn) why = library_.Path() + " lacks " + name;
    return fn != nullptr;
  }

  // The library calls this with the object that set the trace; no exception goes back into it.
  static void Traced(void* context, int direction, const std::uint8_t* bytes, std::uint32_t size) {
    try {
      using namespace std::chrono;
      const auto micros = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
      const auto& hook = static_cast<HeiPasLibrary*>(context)->trace_;
      if (hook) hook(direction == HEI_TRACE_SENT ? TraceDirection::Sent : TraceDirection::Received, bytes, size, micros);
    } catch (...) {
    }
  }

  SharedLibrary library_;
  TraceHook trace_;
  decltype(&HEIErrorDetail) errorDetail_ = nullptr;
  decltype(&HEISetTrace) setTrace_ = nullptr;
  decltype(&PASCAL_HEIOpen) open_ = nullptr;
  decltype(&PASCAL_HEIOpenTransport) openTransport_ = nullptr;
  decltype(&PASCAL_HEIQueryDevices) queryDevices_ = nullptr;
  decltype(&PASCAL_HEIQueryDeviceData) queryDeviceData_ = nullptr;
  decltype(&PASCAL_HEIOpenDevice) openDevice_ = nullptr;
  decltype(&PASCAL_HEIReadSetupData) readSetupData_ = nullptr;
  decltype(&PASCAL_HEIReadDeviceDef) readDeviceDef_ = nullptr;
  decltype(&PASCAL_HEICCMRequest) ccmRequest_ = nullptr;
  decltype(&PASCAL_HEICloseDevice) closeDevice_ = nullptr;
  decltype(&PASCAL_HEICloseTransport) closeTransport_ = nullptr;
  decltype(&PASCAL_HEIClose) close_ = nullptr;
};

}  // namespace

std::unique_ptr<HeiPasApi> LoadHeiPasLibrary(std::string& why) {
  const char* named = std::getenv("HEI_PAS_LIBRARY");
  const std::string name = named && *named ? named : "libhei_pas.so";
  try {
    auto library = std::make_unique<HeiPasLibrary>(SharedLibrary::Open(name));
    if (!library->Bind(why)) return nullptr;
    return library;
  } catch (const RuntimeError& e) {
    why = e.what();
    return nullptr;
  }
}

}  // namespace plc::ecom

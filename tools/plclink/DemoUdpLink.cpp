#include "tools/plclink/DemoUdpLink.h"

#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Enums.h"
#include "platform/PluginControl.h"
#include "base/ResultCodes.h"
#include "platform/ComponentHost.h"
#include "tools/plcsim/EcomModuleSim.h"
#include "tools/plclink/DemoUdpSerial.h"

namespace plc::plclink {

namespace {

constexpr std::int16_t kDeviceTimeOutMs = 50;

// The control under demonstration, driven through its members by name only.
class EcomClient {
 public:
  EcomClient() : control_(PluginControl::Load("udplink")) {
    control_->SetHost(&host_);
    control_->Initialize();
    control_->InitProperties();
    control_->SetProperty("CommMode", std::int32_t{udp::ECOM});
    control_->SetProperty("DeviceTimeOut", kDeviceTimeOutMs);
    control_->SetProperty("Address", std::int32_t{1});
    control_->SetProperty("PortOpen", true);
  }
  ~EcomClient() {
    try {
      control_->SetProperty("PortOpen", false);
    } catch (const RuntimeError&) {
      // Closing at the end of the run changes nothing worth reporting.
    }
  }
  EcomClient(const EcomClient&) = delete;
  EcomClient& operator=(const EcomClient&) = delete;

  Variant Read(const std::string& address, Variant& values, std::int16_t size, Variant& ioType) {
    Variant a(address), n(size);
    return control_->Invoke("ReadPLC", {&a, &values, &n, &ioType});
  }
  Variant Write(const std::string& address, Variant values, std::int16_t size) {
    Variant a(address), n(size);
    return control_->Invoke("WritePLC", {&a, &values, &n});
  }
  std::string Errors() { return control_->GetProperty("CurrentErrors").ToString(); }

 private:
  StandaloneHost host_;  // before the control: it outlives it
  PluginControl control_;
};

std::string Outcome(const Variant& result, EcomClient& client) {
  const std::string errors = client.Errors();
  return "result " + result.ToString() + (errors.empty() ? "" : ", CurrentErrors \"" + errors + "\"");
}

std::string Values(const Variant& values, std::int16_t size) {
  if (!values.IsArray()) return values.ToString();
  std::string text;
  for (std::int32_t k = 1; k <= size; ++k) text += (k > 1 ? " " : "") + values.Array().Get(k).ToString();
  return text;
}

void WriteAndReadBack(DemoReport& report, EcomClient& client, sim::EcomModuleSim& modules) {
  const std::vector<std::int32_t> want = {12, 345, 65535};
  VariantArray values(1, 3);
  for (std::int32_t k = 1; k <= 3; ++k) values.Set(k, Variant(want[static_cast<std::size_t>(k - 1)]));
  Variant wrote = client.Write("V,2000", Variant(values), 3);
  const bool landed = wrote.ToInt16() == ResultOk && modules.Word(1, 1024) == 12 && modules.Word(1, 1026) == 65535;
  report.Step(landed, "WritePLC V,2000 x3 = 12 345 65535 (module 1 V2000..V2002)", Outcome(wrote, client));

  Variant back(VariantArray(1, 3)), io(std::int16_t{0});
  Variant read = client.Read("V,2000", back, 3, io);
  const bool same = read.ToInt16() == ResultOk && back.Array().Get(1).ToInt32() == 12 &&
                    back.Array().Get(2).ToInt32() == 345 && back.Array().Get(3).ToInt32() == 65535;
  report.Step(same, "ReadPLC  V,2000 x3 reads back", same ? Values(back, 3) : Outcome(read, client));
}

void BitAndSecondModule(DemoReport& report, EcomClient& client, sim::EcomModuleSim& modules) {
  modules.SetByte(1, 0x32, 0x102, 0x80);  // X17 on
  Variant bit, io(std::int16_t{0});
  Variant read = client.Read("X,17", bit, 1, io);
  const bool on = read.ToInt16() == ResultOk && bit.ToInt32() == 1 && io.ToInt16() == 18;
  report.Step(on, "ReadPLC  X,17 (inputs 32h, address 102h, bit 7)",
              on ? "1, IOType " + io.ToString() : Outcome(read, client));

  modules.SetWord(2, 0, 4660);
  Variant word, io2(std::int16_t{0});
  read = client.Read("2;V,0", word, 1, io2);
  const bool other = read.ToInt16() == ResultOk && word.ToInt32() == 4660;
  report.Step(other, "ReadPLC  2;V,0 from module 2", other ? word.ToString() : Outcome(read, client));
}

void SilentModule(DemoReport& report, EcomClient& client, sim::EcomModuleSim& modules) {
  modules.SetFault(1, sim::EcomFault::Silent);
  Variant value, io(std::int16_t{0});
  const auto start = std::chrono::steady_clock::now();
  Variant read = client.Read("V,0", value, 1, io);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  const bool failed = read.ToInt16() == ResultFailed && client.Errors() == "Error 2 performing PASCAL_HEICCMRequest: rc= 7";
  report.Step(failed, "ReadPLC  V,0 while module 1 is silent fails with its text",
              Outcome(read, client) + " after " + std::to_string(ms) + " ms");

  modules.SetFault(1, sim::EcomFault::None);
  read = client.Read("V,2000", value, 1, io);
  const bool back = read.ToInt16() == ResultOk && value.ToInt32() == 12 && client.Errors().empty();
  report.Step(back, "ReadPLC  V,2000 once it answers again", back ? value.ToString() : Outcome(read, client));
}

}  // namespace

void RunUdpLinkDemo(DemoReport& report) {
  sim::EcomModuleSim modules({{1, "PRESS", 0}, {2, "OVEN", 0}});
  modules.Start();
  setenv("HEI_PAS_MODULES", modules.ModuleList().c_str(), 1);
  report.Note("modules: simulated ECOM modules 1 \"PRESS\" and 2 \"OVEN\" at " + modules.ModuleList());
  {
    EcomClient client;
    report.Note("client:  UdpLink in ECOM mode over libhei_pas.so, DeviceTimeOut " + std::to_string(kDeviceTimeOutMs) +
                " ms");
    const std::string errors = client.Errors();
    report.Step(errors.empty(), "PortOpen = True: hei_pas opened, modules queried and opened",
                errors.empty() ? "CurrentErrors empty" : "CurrentErrors \"" + errors + "\"");
    if (!errors.empty()) return;
    WriteAndReadBack(report, client, modules);
    BitAndSecondModule(report, client, modules);
    SilentModule(report, client, modules);
  }
  modules.Stop();
  report.Note("the modules answered " + std::to_string(modules.Answered()) + " CCM requests");
  RunUdpSerialDemo(report);
}

}  // namespace plc::plclink

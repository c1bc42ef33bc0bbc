#pragma once
// SeqLink: the DirectNET / K-sequence control for DirectLOGIC PLCs on a serial line.
//
// Its members are those of the interface, spelled as the interface spells them. By-reference
// parameters are C++ references; optional ones are Opt<T>. Read and write methods return -1
// (success) or 0 (failure) and never throw for a communication problem.
//
// The serial child is MSComm1 (the port given to the constructor, or the termios port), the
// timers Timer1 (watchdog), Timer2 (scan read) and Timer3 (scan write).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "frame/TableControl.h"
#include "base/Enums.h"
#include "frame/FrameProperties.h"
#include "frame/LinkTimers.h"
#include "base/Opt.h"
#include "frame/PersistedKeys.h"
#include "base/ResultCodes.h"
#include "frame/ScanEngine.h"
#include "frame/SerialLine.h"
#include "directnet/DirectNetEngine.h"
#include "directnet/SeqCallRoad.h"
#include "directnet/SeqScanLine.h"

namespace plc {

class SeqLink final : public TableControl<SeqLink> {
 public:
  using EnPDMode = seq::EnPDMode;

  explicit SeqLink(std::unique_ptr<SerialPort> port = nullptr);
  ~SeqLink() override;

  // Container events (SeqLink has no Initialize handler).
  void InitProperties() override;
  void ReadProperties(PropertyBag& bag) override;
  void WriteProperties(PropertyBag& bag) override;
  void Show() override;
  void Paint() override;
  void Resize() override;

  // Dispatch by name.
  std::string ClassName() const override { return "SeqLink"; }
  // Its members by name (the dispatch interface forwards here).
  static const DispatchTable<SeqLink>& Table();

  // Properties.
  bool Enabled() const { return props_.enabled; }
  void SetEnabled(bool value);
  Variant CommBusy() const;
  void SetCommBusy(const Variant& value);
  std::int16_t CommPort() const { return line_.CommPort(); }
  void SetCommPort(std::int16_t value) { line_.SetCommPort(value); }
  bool PortOpen() const { return line_.PortOpen(); }
  void SetPortOpen(bool value) {
    line_.SetPortOpen(value);
    if (!value) engine_.LineClosed();
  }
  std::string Settings() const { return line_.Settings(); }
  void SetSettings(std::string value) { line_.SetSettings(value); }
  bool DTREnable() const { return line_.DTREnable(); }
  void SetDTREnable(bool value) { line_.SetDTREnable(value); }
  bool CDHolding() const { return line_.CDHolding(); }
  std::int16_t NumOfReadRetries() const { return props_.numOfReadRetries; }
  void SetNumOfReadRetries(std::int16_t value);
  std::int16_t NumOfWriteRetries() const { return props_.numOfWriteRetries; }
  void SetNumOfWriteRetries(std::int16_t value);
  std::int32_t Address() const { return props_.address; }
  void SetAddress(std::int32_t value);  // overflow (6) outside 16 bits, after storing
  EnPDMode CommMode() const { return static_cast<EnPDMode>(commMode_); }
  void SetCommMode(EnPDMode value);  // kept under the key "ModBusMode"
  bool ScanReadEnable() const { return props_.scanReadEnable; }
  void SetScanReadEnable(bool value);
  bool ScanWriteEnable() const { return props_.scanWriteEnable; }
  void SetScanWriteEnable(bool value);
  std::int32_t ScanReadIOTimerInterval() { return timers_.Timer2().Interval(); }
  void SetScanReadIOTimerInterval(std::int32_t value);
  std::int32_t ScanWriteIOTimerInterval() { return timers_.Timer3().Interval(); }
  void SetScanWriteIOTimerInterval(std::int32_t value);

  // Read and write methods.
  Result ReadPLC(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType,
                 Opt<std::int32_t> ioIdx);
  Result ReadPLCNW(Variant& Address, Variant& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> IOType);
  Result ReadDevice(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx);
  Result WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                  Opt<std::int32_t> ioIdx);
  Result WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                     Opt<std::int32_t> ioIdx);
  Result ReadPLCValue(Variant& Address, Variant& ResponseValue, Opt<std::int16_t> NumOfRegs,
                      Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx);

  // Data of the latest reads.
  Variant ReadData(std::int16_t& idx);
  Variant ReadErrors();

  // Scan database and write queue.
  void ForceData(Variant& Add, std::int32_t& value);
  void WriteQueData();
  void SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state);
  void EditScanDatabase();
  Variant TagAddressFromName(Variant& name);
  Variant TagNameFromAddress(Variant& Address);

  // Raw line: SendToComm enters pass-through mode, where received data and carrier changes
  // go to the host as CommEventModem.
  void SendToComm(std::string& line1);
  Variant ReceiveComm();
  void ClearCommPort();

  // Conversions and framing.
  float LongFloatToDec(std::int32_t& dlong1, std::int32_t& dlong2);
  std::int32_t CnvOctToDec(std::string& Oct);
  std::string LRCchk(std::string& HEADER);

  // The rest of the frame.
  void Size(float& Width, float& Height);
  void ShowAboutBox();
  void EventComComplete();  // raises CommComplete

  // Test seams: the serial child and the timers.
  SerialPort& MSComm1() const { return line_.Child(); }
  IntervalTimer& Timer1() { return timers_.Timer1(); }
  IntervalTimer& Timer2() { return timers_.Timer2(); }
  IntervalTimer& Timer3() { return timers_.Timer3(); }
  std::int16_t UnitAddress() const { return props_.unitAddress; }
  bool PassThroughMode() const { return engine_.PassThroughMode(); }
  ScanEngine& Scan() { return scan_; }

  static const KeyTable<SeqLink>& Keys();

 private:
  // A host's call starts with no cause, and has its own outcome: an earlier non-waiting read's
  // failure is no longer told.
  void BeginCall();
  // A failed call's cause, from the call road.
  Result Noted(Result result);
  // The scan's completions and the write queue, wired to this control's events (SeqLinkScan.cpp).
  void WireScan();
  WriteQueue::Attempt QueuedWrite(const Variant& address, std::int32_t value, std::optional<std::int16_t> station);

  FrameProperties props_;
  SerialLine line_;
  LinkTimers timers_;
  std::int16_t commMode_ = seq::KSeq;
  // After the serial line: the engine installs itself as its child's OnComm handler.
  dnet::DirectNetEngine engine_;
  dnet::SeqCallRoad road_;
  dnet::SeqScanLine scanLine_;
  ScanEngine scan_;
};

}  // namespace plc

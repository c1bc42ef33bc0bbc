#pragma once
// UdpLink: reaches DirectLOGIC PLCs through an ECOM Ethernet module (CommMode ECOM, over the
// hei_pas transport) or over a serial line with the DirectNET engine (KSeq, DIrectNet).
//
// Its members are those of the interface, spelled as the interface spells them (its Size
// method is spelled `size`). By-reference parameters are C++ references; optional ones are
// Opt<T>. Read and write methods return -1, 0 or 301 (ECOM not open) and never throw for a
// communication problem.
//
// In ECOM mode every UdpLink of a thread shares one ECOM link state and transport
// (ecom/EcomLinkState.h); the last UdpLink of the thread to go away closes the transport.
// The serial modes (KSeq, DIrectNet) run the DirectNET engine with UdpLink's own addressing
// (ecom/UdpSerialPath.h). Both paths share the thread's call flags and word array: a read is
// refused while a write call runs on either path, and ReadData gives the words of the latest
// read of either.
//
// The serial child is MSComm1 (the port given to the constructor, or the termios port), the
// timers Timer1 (watchdog), Timer2 (scan read) and Timer3 (scan write).
#include <cstdint>
#include <memory>
#include <optional>
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
#include "ecom/EcomRequests.h"
#include "ecom/UdpSerialPath.h"

namespace plc {

class UdpLink final : public TableControl<UdpLink> {
 public:
  using EnPDMode = udp::EnPDMode;
  using EnPDProtocol = udp::EnPDProtocol;

  explicit UdpLink(std::unique_ptr<SerialPort> port = nullptr);
  ~UdpLink() override;

  // Container events (UdpLink has no Initialize handler).
  void InitProperties() override;
  void ReadProperties(PropertyBag& bag) override;
  void WriteProperties(PropertyBag& bag) override;
  void Show() override;
  void Paint() override;
  void Resize() override;

  // Dispatch by name.
  std::string ClassName() const override { return "UdpLink"; }
  // Its members by name (the dispatch interface forwards here).
  static const DispatchTable<UdpLink>& Table();

  // Properties.
  bool Enabled() const { return props_.enabled; }
  void SetEnabled(bool value);
  Variant CommBusy() const;
  void SetCommBusy(const Variant& value);
  std::int16_t CommPort() const { return line_.CommPort(); }
  void SetCommPort(std::int16_t value) { line_.SetCommPort(value); }
  bool PortOpen() const { return line_.PortOpen(); }
  // 382 at design time. In ECOM mode it opens the ECOM transport instead of the serial child.
  void SetPortOpen(bool value);
  std::string Settings() const { return line_.Settings(); }
  void SetSettings(std::string value) { line_.SetSettings(value); }
  bool DTREnable() const { return line_.DTREnable(); }
  void SetDTREnable(bool value) { line_.SetDTREnable(value); }
  std::int16_t NumOfReadRetries() const { return props_.numOfReadRetries; }
  void SetNumOfReadRetries(std::int16_t value);
  std::int16_t NumOfWriteRetries() const { return props_.numOfWriteRetries; }
  void SetNumOfWriteRetries(std::int16_t value);
  std::int32_t Address() const { return props_.address; }
  void SetAddress(std::int32_t value);  // overflow (6) outside 16 bits, after storing
  EnPDMode CommMode() const { return static_cast<EnPDMode>(commMode_); }
  void SetCommMode(EnPDMode value);  // kept under the key "ModBusMode"
  EnPDProtocol CommProtocol() const { return static_cast<EnPDProtocol>(commProtocol_); }
  void SetCommProtocol(EnPDProtocol value);  // kept under the key "Protocol"
  std::int16_t DeviceTimeOut() const { return deviceTimeOut_; }
  void SetDeviceTimeOut(std::int16_t value);
  std::string CurrentErrors() const;
  void SetCurrentErrors(std::string value);
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
  Result WritePLC(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                  Opt<std::int32_t> ioIdx);
  Result WritePLCBit(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
                     Opt<std::int32_t> ioIdx);
  Result ReadPLCValue(Variant& Address, Variant& ResponseValue, Opt<std::int16_t> NumOfRegs,
                      Opt<std::int16_t> IOType, Opt<std::int32_t> ioIdx);

  // Data of the latest reads.
  Variant ReadData(std::int16_t& idx);  // idx 0..1000, else subscript error (9)
  Variant ReadErrors();

  // Scan database and write queue.
  void ForceData(Variant& Add, std::int32_t& value);
  void WriteQueData();
  void SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state);
  void EditScanDatabase();
  Variant TagAddressFromName(Variant& name);
  Variant TagNameFromAddress(Variant& Address);

  // Raw line.
  void SendToComm(std::string& line1);
  Variant ReceiveComm();
  void ClearCommPort();

  // Conversions and framing.
  float LongFloatToDec(std::int32_t& dlong1, std::int32_t& dlong2);
  std::int32_t CnvOctToDec(std::string& Oct);
  std::string LRCchk(std::string& HEADER);

  // The rest of the frame.
  void size(float& Width, float& Height);
  void ShowAboutBox();
  void EventComComplete();  // raises CommComplete

  // Test seams: the serial child and the timers.
  SerialPort& MSComm1() const { return line_.Child(); }
  IntervalTimer& Timer1() { return timers_.Timer1(); }
  IntervalTimer& Timer2() { return timers_.Timer2(); }
  IntervalTimer& Timer3() { return timers_.Timer3(); }
  std::int16_t UnitAddress() const { return props_.unitAddress; }
  bool EcomOpen() const;
  ScanEngine& Scan() { return scan_; }

  static const KeyTable<UdpLink>& Keys();

 private:
  FrameProperties props_;
  SerialLine line_;
  LinkTimers timers_;
  std::int32_t commMode_ = udp::ECOM;
  std::int32_t commProtocol_ = udp::UDP_IP;
  std::int16_t deviceTimeOut_ = 55;
  ecom::UdpSerialPath serial_;
  // The scan's view of this control (UdpLinkScan.cpp), and the scan itself.
  std::unique_ptr<ScanLine> scanLine_;
  ScanEngine scan_;
  // A CommComplete handler of this control runs (an ECOM read that ends meanwhile raises its
  // own at the loop's next turn).
  bool raisingEcomCompletion_ = false;

  bool EcomMode() const { return commMode_ == udp::ECOM; }
  // A host's call starts with no cause, and has its own outcome: an earlier serial non-waiting
  // read's failure is no longer told.
  void BeginCall();
  // ReadPLCNW's work; a host's call (hostCall) begins a call and is followed until its read
  // ends, the scan's is neither. station: the module an ECOM address naming none goes to (the
  // scan's group unit; nullopt: the control's Address).
  Result NonWaitingRead(Variant& Address, Opt<Variant> ReadSize, Opt<std::int16_t> IOType, bool hostCall,
                        std::optional<std::int16_t> station = std::nullopt);
  // CommComplete of an ECOM non-waiting read that just ended. One that ends inside a
  // CommComplete handler is raised at the loop's next turn, with the read's words back in
  // ReadData: a host that reads on from its handler polls through its loop, as on the serial
  // path, not one handler deeper per read.
  void RaiseEcomCompletion();
  // Raises CommComplete, marked as running for RaiseEcomCompletion.
  void RaiseMarkedCommComplete();
  // A serial-path call's result, with its cause when it failed.
  Result SerialNoted(Result result);
  // The scan's completions and the write queue, wired to this control's events.
  static std::unique_ptr<ScanLine> MakeScanLine(UdpLink& link);
  void WireScan();
  WriteQueue::Attempt QueuedWrite(const Variant& address, std::int32_t value, std::optional<std::int16_t> station);
  // WritePLC's work; station: where an address naming none goes (nullopt: the control's Address).
  Result Write(Variant& pstr, Variant& ABValue, Opt<std::int16_t> WriteSize, Opt<std::int16_t> IOType,
               Opt<std::int32_t> ioIdx, std::optional<std::int16_t> station);
  // The first count words (or points) of the read that just ended, from 1: both paths leave
  // them in the thread's one word array.
  std::vector<Variant> ScanWords(std::int32_t count) const;
  // Copies the station, protocol and device time-out into the thread's link state, as a load
  // does; each setter copies its own. The last control to set one names it for the thread.
  void ShareSettings() const;
  // An ECOM read, its failure noted; an address naming no module goes to station.
  Result EcomRead(const Variant& Address, Variant* storeInto, std::int32_t size, Opt<std::int16_t> IOType,
                  Opt<std::int32_t> ioIdx, std::int16_t station);
  // Why a request finds ECOM closed.
  std::string NotOpenCause() const;
};

}  // namespace plc

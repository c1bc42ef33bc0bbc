#pragma once
// DfLink: the Allen-Bradley DF1 full-duplex control (BCC or CRC-16 check; PCCC reads and
// writes to SLC500, MicroLogix and PLC5).
//
// Its members are those of the interface, spelled as the interface spells them. By-reference
// parameters are C++ references; optional ones are Opt<T>. Read and write methods return its
// result codes (ResultCodes.h) and never throw for a communication problem.
//
// Where it differs from the other serial controls: Address and Node are variants; CommPort
// and PortOpen read the serial child's own values, and PortOpen may be set at design time;
// only nine keys are persisted; it has no Show handler, and its timers serve the DF1 link
// (Timer2, 3000 ms, is the watchdog and the only one that runs).
//
// The serial child is MSComm2 (the port given to the constructor, or the termios port).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/TableControl.h"
#include "base/Enums.h"
#include "frame/LinkTimers.h"
#include "base/Opt.h"
#include "frame/PersistedKeys.h"
#include "base/ResultCodes.h"
#include "frame/ScanEngine.h"
#include "frame/SerialLine.h"
#include "df1/Engine.h"

namespace plc {

namespace df1 {
class DfScanLine;

// The closing of a queued write on the line, once it came.
struct QueuedWriteEnd {
  std::uint64_t number = 0;  // the write's transaction
  bool closed = false;
  LinkClosing closing;
};
}  // namespace df1

class DfLink final : public TableControl<DfLink> {
 public:
  using EnPLCType = df1::EnPLCType;
  using EnMode = df1::EnMode;

  explicit DfLink(std::unique_ptr<SerialPort> port = nullptr);
  ~DfLink() override;

  // Container events (DfLink has no Show handler).
  void Initialize() override;
  void InitProperties() override;
  void ReadProperties(PropertyBag& bag) override;
  void WriteProperties(PropertyBag& bag) override;
  void Paint() override;
  void Resize() override;

  // Dispatch by name.
  std::string ClassName() const override { return "DfLink"; }
  // Its members by name (the dispatch interface forwards here).
  static const DispatchTable<DfLink>& Table();

  // Properties.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  Variant CommBusy() const;
  void SetCommBusy(const Variant& value);
  std::int16_t CommPort() const { return line_.CommPort(); }
  void SetCommPort(std::int16_t value) { line_.SetCommPort(value); }
  bool PortOpen() const { return line_.PortOpen(); }
  void SetPortOpen(bool value);  // closing gives up this line's request on the line
  std::string Settings() const { return line_.Settings(); }
  void SetSettings(std::string value) { line_.SetSettings(value); }
  bool DTREnable() const { return line_.DTREnable(); }
  void SetDTREnable(bool value) { line_.SetDTREnable(value); }
  // Above 1, a waiting read that failed is sent once more (never more than once). Neither
  // retry count is among the stored keys.
  std::int16_t NumOfReadRetries() const { return numOfReadRetries_; }
  void SetNumOfReadRetries(std::int16_t value) { numOfReadRetries_ = value; }
  std::int16_t NumOfWriteRetries() const { return numOfWriteRetries_; }
  void SetNumOfWriteRetries(std::int16_t value) { numOfWriteRetries_ = value; }
  Variant Address() const { return address_; }
  void SetAddress(const Variant& value);  // the 16-bit copy may overflow (6) after storing
  Variant Node() const { return node_; }
  void SetNode(const Variant& value);
  EnPLCType PLCType() const { return static_cast<EnPLCType>(plcType_); }
  void SetPLCType(EnPLCType value);
  EnMode Mode() const;  // also refreshes its own mode copy
  void SetMode(EnMode value);
  // The background scan, as the other controls have it but not persisted: Timer1 is the
  // scan-read timer, Timer3 the scan-write timer (1000 ms each); they run only in run mode.
  bool ScanReadEnable() const { return scanReadEnable_; }
  void SetScanReadEnable(bool value);
  bool ScanWriteEnable() const { return scanWriteEnable_; }
  void SetScanWriteEnable(bool value);
  std::int32_t ScanReadIOTimerInterval() { return timers_.Timer1().Interval(); }
  void SetScanReadIOTimerInterval(std::int32_t value) { timers_.Timer1().SetInterval(value); }
  std::int32_t ScanWriteIOTimerInterval() { return timers_.Timer3().Interval(); }
  void SetScanWriteIOTimerInterval(std::int32_t value) { timers_.Timer3().SetInterval(value); }

  // Read and write methods.
  Result ReadPLC(std::string& Addr, VariantArray& ReadValue, Opt<std::int16_t> ReadSize);
  Result ReadPLCV(Variant& AddrV, Variant& ReadValue, Opt<std::int16_t> ReadSize);
  Result ABReadPLC(std::string& pstr, Variant& ReadValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> FloatType);
  Result ReadPLCNW(Variant& Address, Variant& ReadValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType);
  Result ReadDevice(std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType);
  Result WritePLC(std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize);
  Result ReadPLCValue(Variant& Address, Variant& ResponseValue, Opt<std::int16_t> NumOfRegs, Opt<std::int16_t> ioType,
                      Opt<std::int32_t> IOIdx);

  // Data of the latest reads.
  double ReadData(std::int16_t& idx);  // idx 1..300, else subscript error (9)
  Variant ReadErrors();

  // Scan database and write queue.
  void ForceData(Variant& Add, std::int32_t& value);
  void WriteQueData();
  void EditScanDatabase();
  void SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state);
  Variant TagAddressFromName(Variant& name);
  Variant TagNameFromAddress(Variant& Address);
  void EventComComplete();

  // Raw line.
  void SendToComm(std::string& Line1);
  Variant ReceiveComm();
  void ClearCommPort();

  // Conversions, configuration and the rest of the frame.
  float LongFloatToDec(std::int32_t& dlong1, std::int32_t& dlong2);
  void mains();
  void Refresh();
  void Size(float Width, float Height);
  void ShowAboutBox();

  // Test seams: the serial child and the timers.
  SerialPort& MSComm2() const { return line_.Child(); }
  IntervalTimer& Timer1() { return timers_.Timer1(); }
  IntervalTimer& Timer2() { return timers_.Timer2(); }
  IntervalTimer& Timer3() { return timers_.Timer3(); }
  IntervalTimer& Timer4() { return timer4_; }

  static const KeyTable<DfLink>& Keys();
  // The transaction engine (tests reach the shared state through it).
  df1::Df1Engine& Engine() { return engine_; }
  ScanEngine& Scan() { return scan_; }

 private:
  friend class df1::DfScanLine;

  // The scan's completions and the write queue, wired to this control (DfLinkScan.cpp).
  void WireScan();
  static std::unique_ptr<ScanLine> MakeScanLine(DfLink& link);
  WriteQueue::Attempt QueuedWrite(const Variant& address, std::int32_t value, std::optional<std::int16_t> station);
  // A closing that belongs to the scan (its read, or a queued write) is handled there: true.
  bool ScanClosed(const df1::LinkClosing& closing, const df1::Transaction& t);

  // Waits up to 0.71 s (and the line time of the transaction on the line) for a busy driver;
  // false (and Busy cleared) when it stays busy.
  bool AwaitDriver();
  // A tag name (no ":" and no "/") replaced by its tag's address; false when no such tag.
  static bool ResolveTag(std::string& address);
  Result ReadCall(const std::string& address, Variant& ReadValue, std::int16_t size, Opt<std::int16_t>& FloatType);
  // A scan read (hostCall false) is no read call of the host's: a write's completion goes on
  // naming the host's last one.
  Result NonWaitingRead(std::string address, Opt<std::int16_t> ReadSize, bool hostCall = true);
  // WritePLC, or a queued write (hostWrite false), which the queue reports itself.
  // station: the one written (nullopt: Address).
  Result Write(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t>& ReadSize, bool hostWrite,
               std::optional<std::int16_t> station = std::nullopt);
  Result WriteCall(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t>& ReadSize,
                   std::optional<std::int16_t> station);
  // The end of a call: a success leaves no cause, a failure the meaning of its result and why.
  Result Finish(Result result, const std::string& cause);
  void RaiseCommComplete(const df1::LinkClosing& closing, const df1::Transaction& t);
  // A host's non-waiting read or write has no event for a request given up unanswered: its
  // cause is left where a waiting call's is, unless a later call of the host has its own.
  void GivenUp(const df1::Transaction& t, Result result, const std::string& why);

  SerialLine line_;
  LinkTimers timers_;
  IntervalTimer timer4_;
  df1::Df1Engine engine_;
  bool enabled_ = false;
  std::int16_t numOfReadRetries_ = 0;
  std::int16_t numOfWriteRetries_ = 0;
  Variant address_ = Variant(std::int32_t{1});
  Variant node_ = Variant(std::int32_t{1});
  std::int32_t plcType_ = df1::EnSLC500;
  std::int16_t mode_ = df1::EnCRC;
  std::string lastErrorText_;
  bool scanReadEnable_ = false;
  bool scanWriteEnable_ = false;
  std::optional<df1::QueuedWriteEnd> queuedWrite_;
  std::uint64_t followed_ = 0;  // the host's last non-waiting read or write, until it ends
  std::unique_ptr<ScanLine> scanLine_;
  ScanEngine scan_;
};

}  // namespace plc

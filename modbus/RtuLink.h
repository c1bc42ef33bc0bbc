#pragma once
// RtuLink: the Modbus control (RTU or ASCII framing; master that polls a slave, or slave that
// answers a master from its register image).
//
// Its members are those of the interface, spelled as the interface spells them. By-reference
// parameters are C++ references; optional ones are Opt<T>. Read and write methods return
// 16-bit result codes (ResultOk -1, ResultFailed 0, ResultBusy 966) and never throw for a
// communication problem; property accessors let the serial child's errors through.
//
// The serial child is MSComm2 (the port given to the constructor, or the termios port), the
// timers Timer1 (reply watchdog), Timer2 (scan read) and Timer3 (scan write).
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
#include "modbus/MasterCallRoad.h"
#include "modbus/ModbusMaster.h"
#include "modbus/ModbusSlave.h"

namespace plc {

class RtuLink final : public TableControl<RtuLink> {
 public:
  using EnModBusMode = rtu::EnModBusMode;
  using EnHandshake = rtu::EnHandshake;
  using EnRS485Mode = rtu::EnRS485Mode;
  using EnPLCType = rtu::EnPLCType;

  explicit RtuLink(std::unique_ptr<SerialPort> port = nullptr);
  ~RtuLink() override;

  // Container events.
  void Initialize() override;
  void InitProperties() override;
  void ReadProperties(PropertyBag& bag) override;
  void WriteProperties(PropertyBag& bag) override;
  void Show() override;
  void Paint() override;
  void Resize() override;

  // Dispatch by name.
  std::string ClassName() const override { return "RtuLink"; }
  // Its members by name (the dispatch interface forwards here).
  static const DispatchTable<RtuLink>& Table();

  // Properties.
  bool Enabled() const { return props_.enabled; }
  void SetEnabled(bool value);
  Variant CommBusy() const;
  void SetCommBusy(const Variant& value);
  std::int16_t CommPort() const { return line_.CommPort(); }
  void SetCommPort(std::int16_t value) { line_.SetCommPort(value); }
  bool PortOpen() const { return line_.PortOpen(); }
  void SetPortOpen(bool value) { line_.SetPortOpen(value); }
  std::string Settings() const { return line_.Settings(); }
  void SetSettings(std::string value) { line_.SetSettings(value); }
  bool DTREnable() const { return line_.DTREnable(); }
  void SetDTREnable(bool value) { line_.SetDTREnable(value); }
  bool RTSEnable() const { return line_.RTSEnable(); }
  void SetRTSEnable(bool value) { line_.SetRTSEnable(value); }
  EnHandshake ComHandshaking() const { return static_cast<EnHandshake>(line_.Handshaking()); }
  void SetComHandshaking(EnHandshake value) { line_.SetHandshaking(value); }
  bool CDHolding() const { return line_.CDHolding(); }
  std::int16_t NumOfReadRetries() const { return props_.numOfReadRetries; }
  void SetNumOfReadRetries(std::int16_t value);
  std::int16_t NumOfWriteRetries() const { return props_.numOfWriteRetries; }
  void SetNumOfWriteRetries(std::int16_t value);
  std::int32_t Address() const { return props_.address; }
  void SetAddress(std::int32_t value);  // overflow (6) outside 16 bits, after storing
  EnModBusMode ModBusMode() const { return static_cast<EnModBusMode>(modBusMode_); }
  void SetModBusMode(EnModBusMode value);
  EnRS485Mode RS485Mode() const { return static_cast<EnRS485Mode>(rs485Mode_); }
  void SetRS485Mode(EnRS485Mode value);
  EnPLCType PLCType() const { return static_cast<EnPLCType>(plcType_); }
  void SetPLCType(EnPLCType value);
  bool ScanReadEnable() const { return props_.scanReadEnable; }
  void SetScanReadEnable(bool value);
  bool ScanWriteEnable() const { return props_.scanWriteEnable; }
  void SetScanWriteEnable(bool value);
  std::int32_t ScanReadIOTimerInterval() { return timers_.Timer2().Interval(); }
  void SetScanReadIOTimerInterval(std::int32_t value);
  std::int32_t ScanWriteIOTimerInterval() { return timers_.Timer3().Interval(); }
  void SetScanWriteIOTimerInterval(std::int32_t value);

  // Read and write methods.
  Result ReadPLC(std::string& Address, VariantArray& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> ioType);
  Result ReadPLCNW(std::string& Address, VariantArray& ReadValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType);
  Result ReadDevice(std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType);
  Result WritePLC(std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType);
  Result ReadPLCValue(std::string& Address, VariantArray& ResponseValue, Opt<std::int16_t> NumOfRegs,
                      Opt<std::int16_t> ioType, Opt<std::int32_t> IOIdx);

  // Data of the latest reads.
  double ReadData(std::int16_t& idx);
  Variant ReadErrors();
  void IOData(VariantArray& DataArr, std::int16_t& Size);

  // Slave register image and the write queue.
  Variant ReadModData(Variant& Address, Variant& MData, Opt<std::int16_t> NumOfReg);
  Variant SetModData(Variant& Address, Variant& MData);
  void ForceModData(Variant& Add, std::int32_t& value);
  void WriteQueData();
  void SetScanRegGroup(std::int16_t& ScanRegGroup, bool& state);

  // Raw line.
  void SendToComm(std::string& line1);
  Variant ReceiveComm();
  void ClearCommPort();

  // Framing and value conversions.
  std::string MakeLRC(std::string& msg);
  float LongFloatToDec(std::int32_t& dlong1, std::int32_t& dlong2);
  std::int16_t DecToLongFloat(float& Dec, std::int32_t& dlong1, std::int32_t& dlong2);
  std::int32_t ByteToLong(VariantArray& ByteArr, double& UnsignedLong);
  void LongToByte(std::int32_t& LongVar, VariantArray& ByteArr, std::int16_t& StartByteIndex);
  void LongToUInteger(std::int32_t& LongVar, VariantArray& UIntegerArr, std::int16_t& StartByteIndex);
  void SignedIntToLong(Variant& SgnIntr, std::int32_t& Lng1);
  void LongToSIgnedInt(Variant& Lng1, std::int32_t& SgnIntr);

  // Tag and scan databases, and the shared configuration file.
  Variant TagAddressFromName(Variant& name);
  Variant TagNameFromAddress(Variant& Address);
  void ReadScanDatabase();
  void EditScanDatabase();
  void mains();

  // The rest of the frame.
  void Refresh();
  void Size(float& Width, float& Height);
  void ShowAboutBox();
  void EventComComplete();

  // Test seams: the serial child, the timers and the slave register image.
  SerialPort& MSComm2() const { return line_.Child(); }
  IntervalTimer& Timer1() { return timers_.Timer1(); }
  IntervalTimer& Timer2() { return timers_.Timer2(); }
  IntervalTimer& Timer3() { return timers_.Timer3(); }
  std::int16_t UnitAddress() const { return props_.unitAddress; }
  const modbus::RegisterImageArray& RegisterImage() const { return registerImage_; }
  modbus::ModbusMaster& Master() { return master_; }
  ScanEngine& Scan() { return scan_; }

  static const KeyTable<RtuLink>& Keys();

 private:
  static bool IsSlaveMode(std::int16_t mode) { return mode == rtu::SlaveRtu || mode == rtu::SlaveAscii; }
  // Slave modes: the child signals every received character and hands over all of it, and the
  // image holds registers 0..50000; master modes keep a 0..5 image. Cleared either way.
  void SetUpForMode();
  // The engine frames and addresses by these; it is told on load and on every set.
  void PushSettingsToMaster();
  // A host's call starts with no cause, and has its own outcome: an earlier non-waiting read's
  // failure is no longer told.
  void BeginCall();
  // The failure cause after a read or write method: the road's, or none after success.
  Result Noted(Result result);
  // The scan's completions and the write queue, wired to this control's events (RtuLinkScan.cpp).
  void WireScan();
  WriteQueue::Attempt QueuedWrite(const Variant& address, std::int32_t value, std::optional<std::int16_t> unit);

  FrameProperties props_;
  SerialLine line_;
  LinkTimers timers_;
  std::int16_t modBusMode_ = rtu::Rtu;
  std::int16_t rs485Mode_ = rtu::OFF;
  std::int32_t plcType_ = rtu::EnStdModbus;
  modbus::RegisterImageArray registerImage_;
  // After the serial line: the master installs itself as its child's OnComm handler.
  modbus::ModbusMaster master_;
  ScanEngine scan_;
  modbus::MasterCallRoad road_;
  // Reached by the master's dispatch in the slave modes; serves from registerImage_.
  modbus::ModbusSlave slave_;
};

}  // namespace plc

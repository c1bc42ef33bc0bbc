#pragma once
// The road of RtuLink's read and write methods from the host's call to the result code:
// default arguments, address resolution, the busy test, the hand-over to the master engine
// and the copying of values. RtuLink's members forward here one to one.
//
// None of these calls raises an error to the host: a bad address, a closed port, a value
// that does not convert all end as result 0 (or 966 for a busy ReadPLC).
//
// How RtuLink holds the engines (members in this order, after its serial line):
//   modbus::ModbusMaster master_{MSComm2(), loop};   // installs MSComm2().OnComm
//   ScanEngine scan_{master_, loop};                  // this deliverable's ScanTables()
//   modbus::MasterCallRoad road_{master_, scan_};
// and forwards: ReadPLC, ReadPLCNW, ReadDevice, WritePLC, ReadPLCValue, CommBusy get/set,
// ReadErrors, ReadData, IOData -> road_; SendToComm -> master_.SendToComm; SetScanRegGroup ->
// scan_; WriteQueData, ForceModData -> scan_.Queue(); Timer1.OnTick -> master_.ReplyWatchdog();
// Timer2.OnTick -> scan_.ReadTick(Timer2.Interval(), RunMode(), ScanReadEnable);
// Timer3.OnTick -> scan_.WriteTick(); ModBusMode, RS485Mode, PLCType and UnitAddress (from
// Address) -> master_.Set...() on load and on every set; master_.Events.CommCompleteEx and
// CommEventModem -> RaiseEvent("CommCompleteEx" / "CommEventModem", args);
// master_.Events.HandleSlaveRequest -> the slave handler.
#include <cstdint>
#include <optional>
#include <string>

#include "frame/AddressString.h"
#include "base/Opt.h"
#include "base/RuntimeError.h"
#include "base/ResultCodes.h"
#include "frame/ScanEngine.h"
#include "frame/TagDatabase.h"
#include "base/Variant.h"
#include "modbus/ModbusMaster.h"

namespace plc::modbus {

class MasterCallRoad {
 public:
  // Resolves the scan's group addresses for the master too, as the host's are resolved.
  MasterCallRoad(ModbusMaster& master, ScanEngine& scan, TagDatabase& tags = Tags());
  ~MasterCallRoad();
  MasterCallRoad(const MasterCallRoad&) = delete;
  MasterCallRoad& operator=(const MasterCallRoad&) = delete;

  // Waiting read: ReadSize omitted is 1 (stored back); ioType 2 reads two registers per value
  // (not of a 32-bit value, which is one value whatever the ioType).
  Result ReadPLC(const std::string& Address, VariantArray& ReadValue, Opt<Variant> ReadSize, Opt<std::int16_t> ioType);
  // Non-waiting reads: the values arrive in CommCompleteEx. ReadPLCNW ignores ioType and does
  // not test CommBusy; ReadDevice records ioType as DeviceIoType.
  Result ReadPLCNW(const std::string& Address, VariantArray& ReadValue, Opt<std::int16_t> ReadSize,
                   Opt<std::int16_t> ioType);
  Result ReadDevice(const std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType);
  // Waiting write of ReadSize values (0 is 1) from ABValue(1) on (from its lower bound when it
  // has no element 1). ioType 2 writes the first value as two registers; ioType 5 converts
  // the values in place from signed to register form first. unit: where the address names none
  // (unset: UnitAddress).
  Result WritePLC(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize,
                  Opt<std::int16_t> ioType, std::optional<std::int16_t> unit = std::nullopt);
  Result ReadPLCValue() const { return ResultFailed; }

  // Why the last call failed (never empty; read it after a failed result).
  std::string Cause() const;

  Variant CommBusy() const { return Variant(master_.CommBusy()); }
  // False frees the line; True changes nothing. A value that is no Boolean is a type mismatch.
  void SetCommBusy(const Variant& value) { master_.SetCommBusy(value.ToBool()); }
  Variant ReadErrors() const { return Variant(master_.LastErrorText()); }
  double ReadData(std::int16_t idx) const { return plc::ReadData(master_.DataBuffer(), idx); }
  void IOData(VariantArray& DataArr, std::int16_t Size) const { plc::IOData(master_.DataBuffer(), DataArr, Size); }

 private:
  // ResolveAddress, noting why when it fails; a unit the address leaves open is unitAddress.
  std::optional<AddressFields> Resolve(const std::string& address, std::int16_t unitAddress);
  Result Failed(const RuntimeError& e);
  // Whether the reference holds one 32-bit value (EnType2 kinds 5 and 7): no register word, and
  // no register of a fixed-point pair either.
  bool HoldsA32BitValue(std::int32_t reference) const;

  ModbusMaster& master_;
  ScanEngine& scan_;
  TagDatabase& tags_;
};

}  // namespace plc::modbus

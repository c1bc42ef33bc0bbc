#include "modbus/MasterCallRoad.h"

#include <vector>

#include "core/AddressString.h"
#include "core/Conversions.h"
#include "core/IoDataType.h"
#include "core/RuntimeError.h"

namespace plc::modbus {

Result MasterCallRoad::ReadPLC(const std::string& Address, VariantArray& ReadValue, Opt<Variant> ReadSize,
                               Opt<std::int16_t> ioType) {
  try {
    if (ReadSize.IsMissing()) ReadSize.Put(Variant(std::int16_t{1}));
    std::int16_t size = ReadSize.ValueOr(Variant(std::int16_t{1})).ToInt16();
    std::int16_t io = ioType.ValueOr(0);
    std::int32_t count = std::int32_t{size} * RegistersPerValue(io);
    auto target = ResolveAddress(Address, master_.UnitAddress(), tags_);
    if (!target) return ResultFailed;
    if (master_.CommBusy()) return ResultBusy;
    return master_.WaitingRead(target->unit, target->reference, count, ReadValue, io);
  } catch (const RuntimeError&) {
    return ResultFailed;
  }
}

Result MasterCallRoad::ReadPLCNW(const std::string& Address, VariantArray& /*ReadValue*/, Opt<std::int16_t> ReadSize,
                                 Opt<std::int16_t> /*ioType*/) {
  try {
    std::int16_t size = ReadSize.ValueOr(1);
    auto target = ResolveAddress(Address, master_.UnitAddress(), tags_);
    if (!target) return ResultFailed;
    return master_.SendReadRequest(target->unit, target->reference, size, ReadOrigin::Host) ? ResultOk : ResultFailed;
  } catch (const RuntimeError&) {
    return ResultFailed;
  }
}

Result MasterCallRoad::ReadDevice(const std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType) {
  try {
    std::int16_t size = ReadSize.ValueOr(1);
    std::int16_t io = ioType.ValueOr(0);
    master_.Transaction().DeviceIoType = io;
    std::int32_t count = std::int32_t{size} * RegistersPerValue(io);
    auto target = ResolveAddress(Address, master_.UnitAddress(), tags_);
    if (!target) return ResultFailed;
    return master_.SendReadRequest(target->unit, target->reference, count, ReadOrigin::Host) ? ResultOk
                                                                                            : ResultFailed;
  } catch (const RuntimeError&) {
    return ResultFailed;
  }
}

Result MasterCallRoad::WritePLC(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize,
                                Opt<std::int16_t> ioType) {
  // Host write: the scan and every read stay off the line until it is done.
  scan_.SetScanWriteActive(true);
  master_.Transaction().BeginHostWrite();
  Result result = ResultFailed;
  try {
    std::int16_t size = ReadSize.ValueOr(0);
    if (size == 0) size = 1;
    std::int16_t io = ioType.ValueOr(0);
    auto target = ResolveAddress(pstr, master_.UnitAddress(), tags_);
    if (target && size > 0) {
      std::int32_t first = ABValue.Contains(1) ? 1 : ABValue.Lower();
      if (io == ioFloat) {
        FixedPointWords words = FixedPointWrite(ABValue.Get(first).ToDouble());
        double whole = RegisterWord(words.whole);
        double fraction = words.fraction;
        // Both registers must be written for the value to be; the second is not sent after a
        // failed first.
        result = master_.WaitingWrite(target->unit, target->reference, std::span<const double>(&whole, 1));
        if (result == ResultOk) {
          result = master_.WaitingWrite(target->unit, target->reference + 1, std::span<const double>(&fraction, 1));
        }
      } else {
        std::vector<double> values;
        for (std::int32_t i = first; i < first + size; ++i) {
          if (io == 5) {
            std::int32_t word = 0;
            SignedIntToLong(ABValue.Get(i), word);
            ABValue.Set(i, Variant(word));
          }
          values.push_back(ABValue.Get(i).ToDouble());
        }
        result = master_.WaitingWrite(target->unit, target->reference, values);
      }
    }
  } catch (const RuntimeError&) {
    result = ResultFailed;
  }
  scan_.SetScanWriteActive(false);
  master_.Transaction().EndHostWrite();
  return result;
}

}  // namespace plc::modbus

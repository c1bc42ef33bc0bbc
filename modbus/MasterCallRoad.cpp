#include "modbus/MasterCallRoad.h"

#include <cmath>
#include <vector>

#include "frame/AddressString.h"
#include "base/Conversions.h"
#include "base/IoDataType.h"
#include "base/RuntimeError.h"
#include "modbus/AddressCause.h"
#include "modbus/MasterCause.h"
#include "modbus/ReferenceMap.h"

namespace plc::modbus {

MasterCallRoad::MasterCallRoad(ModbusMaster& master, ScanEngine& scan, TagDatabase& tags)
    : master_(master), scan_(scan), tags_(tags) {
  master_.ResolveScanAddress = [this](const Variant& address, std::int16_t unit) {
    return Resolve(address.ToString(), unit);
  };
}

MasterCallRoad::~MasterCallRoad() { master_.ResolveScanAddress = nullptr; }

std::optional<AddressFields> MasterCallRoad::Resolve(const std::string& address, std::int16_t unitAddress) {
  auto target = ResolveAddress(address, unitAddress, tags_);
  if (!target) {
    master_.NoteCause(AddressCause(address, tags_));
  } else if (target->fractionRounded) {
    // 40001.5 would read or write 40002 as if it had been asked for.
    master_.NoteCause("address " + ShownAddress(address) + " not understood: its reference is not a whole number (" +
                      std::to_string(target->reference) +
                      " when rounded); a reference names one coil or register, as in 40001");
    return std::nullopt;
  }
  return target;
}

bool MasterCallRoad::HoldsA32BitValue(std::int32_t reference) const {
  return master_.PLCType() == rtu::EnType2 && IsType2PairKind(reference / 1000);
}

Result MasterCallRoad::Failed(const RuntimeError& e) {
  master_.NoteCause(std::string("the call's arguments did not convert: ") + e.what());
  return ResultFailed;
}

std::string MasterCallRoad::Cause() const {
  if (!master_.Cause().empty()) return master_.Cause();
  return "the request was not sent";
}

Result MasterCallRoad::ReadPLC(const std::string& Address, VariantArray& ReadValue, Opt<Variant> ReadSize,
                               Opt<std::int16_t> ioType) {
  master_.ClearCause();
  try {
    if (ReadSize.IsMissing()) ReadSize.Put(Variant(std::int16_t{1}));
    std::int16_t size = ReadSize.ValueOr(Variant(std::int16_t{1})).ToInt16();
    std::int16_t io = ioType.ValueOr(0);
    auto target = Resolve(Address, master_.UnitAddress());
    if (!target) return ResultFailed;
    // A 32-bit value is one value of its own reference: as a fixed-point pair it would be
    // combined with the next reference's value.
    if (io == ioFloat && HoldsA32BitValue(target->reference)) io = ioWord;
    std::int32_t count = std::int32_t{size} * RegistersPerValue(io);
    if (master_.CommBusy()) {
      master_.NoteCause(BusyCause());
      return ResultBusy;
    }
    return master_.WaitingRead(target->unit, target->reference, count, ReadValue, io);
  } catch (const RuntimeError& e) {
    return Failed(e);
  }
}

Result MasterCallRoad::ReadPLCNW(const std::string& Address, VariantArray& /*ReadValue*/, Opt<std::int16_t> ReadSize,
                                 Opt<std::int16_t> /*ioType*/) {
  master_.ClearCause();
  try {
    std::int16_t size = ReadSize.ValueOr(1);
    auto target = Resolve(Address, master_.UnitAddress());
    if (!target) return ResultFailed;
    return master_.SendReadRequest(target->unit, target->reference, size, ReadOrigin::Host) ? ResultOk : ResultFailed;
  } catch (const RuntimeError& e) {
    return Failed(e);
  }
}

Result MasterCallRoad::ReadDevice(const std::string& Address, Opt<std::int16_t> ReadSize, Opt<std::int16_t> ioType) {
  master_.ClearCause();
  try {
    std::int16_t size = ReadSize.ValueOr(1);
    std::int16_t io = ioType.ValueOr(0);
    master_.Transaction().DeviceIoType = io;
    auto target = Resolve(Address, master_.UnitAddress());
    if (!target) return ResultFailed;
    std::int32_t count = std::int32_t{size} * (HoldsA32BitValue(target->reference) ? 1 : RegistersPerValue(io));
    return master_.SendReadRequest(target->unit, target->reference, count, ReadOrigin::Host) ? ResultOk
                                                                                            : ResultFailed;
  } catch (const RuntimeError& e) {
    return Failed(e);
  }
}

Result MasterCallRoad::WritePLC(const std::string& pstr, VariantArray& ABValue, Opt<std::int16_t> ReadSize,
                                Opt<std::int16_t> ioType, std::optional<std::int16_t> unit) {
  master_.ClearCause();
  // Host write: the scan and every read stay off the line until it is done.
  const bool scanHeldOff = scan_.ScanWriteActive();
  scan_.SetScanWriteActive(true);
  const bool outerHolds = master_.Transaction().BeginHostWrite();
  Result result = ResultFailed;
  try {
    std::int16_t size = ReadSize.ValueOr(0);
    if (size == 0) size = 1;
    std::int16_t io = ioType.ValueOr(0);
    auto target = Resolve(pstr, unit.value_or(master_.UnitAddress()));
    if (target && size < 0) master_.NoteCause("ReadSize " + std::to_string(size) + ": the number of values is negative");
    if (target && size > 0) {
      std::int32_t first = ABValue.Contains(1) ? 1 : ABValue.Lower();
      if (ABValue.Size() == 0 || !ABValue.Contains(first + size - 1)) {
        // Said from the element the values are taken from: a 0-based array of 2 holds 2 values
        // but only one from element 1.
        master_.NoteCause("ABValue holds elements " +
                          (ABValue.Size() > 0 ? std::to_string(ABValue.Lower()) + ".." + std::to_string(ABValue.Upper())
                                              : std::string("none")) +
                          ", but the " + std::to_string(size) + " value(s) to be written are taken from element " +
                          std::to_string(first) + " on (" + std::to_string(first) + ".." +
                          std::to_string(first + size - 1) + ")");
        throw RuntimeError(err::Subscript);
      }
      if (io == ioFloat && !HoldsA32BitValue(target->reference)) {
        // Each value is a pair (whole part, ten-thousandths) at reference + 2k, as a ReadPLC of
        // the same size reads them back. Every value is converted before anything goes out, and
        // a failed register stops the rest and fails the call.
        std::vector<FixedPointWords> pairs;
        for (std::int32_t k = 0; k < size; ++k) {
          double value = ABValue.Get(first + k).ToDouble();
          try {
            pairs.push_back(FixedPointWrite(value));
          } catch (const RuntimeError&) {
            master_.NoteCause("value " + NumberText(value) +
                              " does not fit a fixed-point pair (ioType 2: whole part -32768..65535)");
            throw;
          }
        }
        // The last register too is checked before the first goes out: one past the table would
        // be refused after the pairs before it were written.
        const std::int32_t plcType = master_.PLCType();
        auto accessAt = [plcType](std::int32_t a) {
          return plcType == rtu::EnType2 && IsType2PairKind(a / 1000) ? Access::MultipleWrite : Access::SingleWrite;
        };
        const std::int32_t last = target->reference + 2 * size - 1;
        auto firstMapping = MapReference(plcType, target->reference, accessAt(target->reference));
        auto lastMapping = MapReference(plcType, last, accessAt(last));
        if (firstMapping && (!lastMapping || lastMapping->referenceKind != firstMapping->referenceKind)) {
          master_.NoteCause(std::to_string(size) + " fixed-point pair(s) from reference " +
                            std::to_string(target->reference) + " end at reference " + std::to_string(last) +
                            (lastMapping ? ", in another table" : ": " + UnmappedCause(plcType, last, accessAt(last))));
          throw RuntimeError(err::Subscript);
        }
        result = ResultOk;
        for (std::size_t k = 0; k < pairs.size() && result == ResultOk; ++k) {
          double whole = RegisterWord(pairs[k].whole);
          double fraction = pairs[k].fraction;
          const std::int32_t at = target->reference + 2 * static_cast<std::int32_t>(k);
          result = master_.WaitingWrite(target->unit, at, std::span<const double>(&whole, 1));
          if (result == ResultOk) {
            result = master_.WaitingWrite(target->unit, at + 1, std::span<const double>(&fraction, 1));
          }
        }
      } else {
        // ioType 5 is for register words: 32-bit values (EnType2 kinds 5 and 7) are signed as
        // they are, and -1 made 65535 would be written as 0000FFFFh.
        const bool signedWords = io == 5 && !HoldsA32BitValue(target->reference);
        std::vector<double> values;
        for (std::int32_t i = first; i < first + size; ++i) {
          if (signedWords) {
            std::int32_t word = 0;
            Variant v = ABValue.Get(i);
            // A value held as text is checked as the number it reads as (a non-number is a type
            // mismatch): it would otherwise wrap or round silently.
            const double d = v.ToDouble();
            if (d < -32768 || d > 32767 || d != std::floor(d)) {
              master_.NoteCause("value " + NumberText(d) +
                                " does not fit a signed register (ioType 5: whole numbers -32768..32767)");
              throw RuntimeError(err::Overflow);
            }
            SignedIntToLong(v, word);
            ABValue.Set(i, Variant(word));
          }
          values.push_back(ABValue.Get(i).ToDouble());
        }
        result = master_.WaitingWrite(target->unit, target->reference, values);
      }
    }
  } catch (const RuntimeError& e) {
    result = ResultFailed;
    if (master_.Cause().empty()) Failed(e);
  }
  scan_.SetScanWriteActive(scanHeldOff);
  master_.Transaction().EndHostWrite(outerHolds);
  return result;
}

}  // namespace plc::modbus

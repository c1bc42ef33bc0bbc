// UdpLink's background work, as SeqLink's: the scan-read tick sends each due group through
// UdpLink's own non-waiting read (which raises CommComplete), each read's end is raised as
// ScanComplete, and the write queue is drained through its waiting write and reported as
// WriteQueComplete.
//
// In ECOM mode a group's address is read as ReadPLC reads it, from the group's unit where it
// names no module, and the read ends within the call. On the serial path the address is a
// header word address or a tag name, as that path reads them, and the station is always the
// control's: a group naming another unit is not sent.
#include <functional>
#include <optional>

#include "frame/ScanEvents.h"
#include "ecom/EcomLinkState.h"
#include "ecom/UdpLink.h"

namespace plc {

namespace {

class UdpScanLine final : public ScanLine {
 public:
  using ReadCall = std::function<Result(Variant& address, std::int16_t count, std::optional<std::int16_t> station)>;
  UdpScanLine(UdpLink& link, dnet::DirectNetEngine& serial, ReadCall read)
      : link_(link), serial_(serial), read_(std::move(read)) {}

  bool LineOpen() const override { return Ecom() ? ecom::EcomLink().EcomOpen : link_.MSComm1().PortOpen(); }
  bool CommBusy() const override { return ecom::EcomLink().Busy(); }
  bool WriteActive() const override { return ecom::EcomLink().Line.WriteCallActive; }
  void ForceFree() override { ecom::EcomLink().FreeLink(); }
  void CountError() override { ++ecom::EcomLink().Line.TimeoutCount; }
  std::int16_t UnitAddress() const override { return link_.UnitAddress(); }
  // The line's transactions, and this scan's ECOM reads, which end within their call: each is a
  // request of its own to tell completions apart by.
  std::uint32_t RequestsBegun() const override { return ecom::EcomLink().Line.Transaction + ecomReads_; }
  // Why the read was not sent, or why the serial transaction it began ended without completing
  // (a NAK, a failed LRC, the step at which the station went silent).
  std::string LastFailure() const override {
    return transaction_ && failure_.empty() ? serial_.WhyEnded(*transaction_) : failure_;
  }

  bool SendScanRead(std::int16_t unit, const Variant& address, std::int16_t count) override {
    failure_.clear();
    transaction_.reset();
    if (!Ecom()) {
      const std::int16_t station = link_.UnitAddress();
      if (unit != station) {
        failure_ = "the serial path reads station " + std::to_string(station) + " only, not unit " + std::to_string(unit);
        return false;
      }
      if (!Read(address, count, std::nullopt)) return false;
      transaction_ = ecom::EcomLink().Line.Transaction;
      return true;
    }
    ++ecomReads_;
    // The group's address is read as ReadPLC reads it (a number, TYPE,number, a tag name or one
    // naming its module), at the group's unit where it names none. A read that succeeds hands
    // its words to the scan within the call, before its CommComplete.
    if (!Read(address, count, unit)) {
      link_.Scan().ScanReadFailed(failure_.empty() ? "the ECOM read of " + address.ToString() + " at module " +
                                                         std::to_string(unit) + " failed"
                                                   : failure_);
      failure_.clear();
    }
    return true;
  }

 private:
  bool Ecom() const { return link_.CommMode() == udp::ECOM; }

  // The control's own non-waiting read, the host's failure cause kept; false with why in
  // failure_: the cause first, as it names the module or station and what went wrong, the
  // classic ReadErrors text only when there is none.
  bool Read(const Variant& address, std::int16_t count, std::optional<std::int16_t> station) {
    serial_.TellFailedRead();  // a host's read the line has left behind says why, before this read
    const Control::KeptFailureCause hostCause(link_);
    Variant target = address;
    if (read_(target, count, station) == ResultOk) return true;
    failure_ = !link_.FailureCause().empty() ? link_.FailureCause() : link_.CurrentErrors();
    return false;
  }

  UdpLink& link_;
  dnet::DirectNetEngine& serial_;
  ReadCall read_;  // the control's non-waiting read, as the scan's
  std::string failure_;
  std::optional<std::uint32_t> transaction_;  // of the serial read sent
  std::uint32_t ecomReads_ = 0;
};

}  // namespace

std::unique_ptr<ScanLine> UdpLink::MakeScanLine(UdpLink& link) {
  return std::make_unique<UdpScanLine>(
      link, link.serial_.Engine(), [&link](Variant& address, std::int16_t count, std::optional<std::int16_t> station) {
        return link.NonWaitingRead(address, Opt<Variant>(Variant(count)), Opt<std::int16_t>(), false, station);
      });
}

std::vector<Variant> UdpLink::ScanWords(std::int32_t count) const {
  const auto& words = ecom::EcomLink().CcmWords();
  std::vector<Variant> out;
  for (std::int32_t k = 1; k <= count && k < static_cast<std::int32_t>(words.size()); ++k) out.emplace_back(words[k]);
  return out;
}

void UdpLink::WireScan() {
  WireScanEngine(scan_, *this,
                 ScanHooks{[this](const char* event, std::vector<Variant>& args) { RaiseEvent(event, args); },
                           [this] { return NumOfWriteRetries(); },
                           [this](const Variant& address, std::int32_t value, std::optional<std::int16_t> station) {
                             return QueuedWrite(address, value, station);
                           },
                           [this] { return UnitAddress(); }});
}

// One word written as WritePLC writes it, at the station (ECOM: the module) of its queuing. On
// the serial path it is no call of the host's: a non-waiting read the host has out stays
// followed, and its failure is still told.
WriteQueue::Attempt UdpLink::QueuedWrite(const Variant& address, std::int32_t value,
                                         std::optional<std::int16_t> station) {
  Variant target = address;
  Variant values(value);
  auto& link = ecom::EcomLink();
  if (EcomMode()) {
    const bool written =
        Write(target, values, Opt<std::int16_t>(std::int16_t{1}), Opt<std::int16_t>(), Opt<std::int32_t>(), station) ==
        ResultOk;
    return {written, written ? std::string() : WriteFailureText(FailureCause(), link.ErrorText)};
  }
  dnet::WriteCallScope call(link.Line);
  Opt<std::int16_t> ioType;
  const bool written = serial_.WritePLC(target, values, 1, ioType, station) == ResultOk;
  return {written, written ? std::string() : WriteFailureText(serial_.Cause(), link.Line.ErrorText)};
}

}  // namespace plc

#include "bench/faults/LineUnderTest.h"

namespace plc::faults {

std::unique_ptr<LineUnderTest> MakeRtuLinkLine(int index, std::uint32_t seed);
std::unique_ptr<LineUnderTest> MakeSeqLinkLine(int index, std::uint32_t seed);
std::unique_ptr<LineUnderTest> MakeDfLinkLine(int index, std::uint32_t seed);
std::vector<std::unique_ptr<LineUnderTest>> MakeUdpLinkLines(int first, int count, std::uint32_t seed);

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::RtuLink: return "RtuLink";
    case ControlKind::SeqLink: return "SeqLink";
    case ControlKind::DfLink: return "DfLink";
    case ControlKind::UdpLink: return "UdpLink";
  }
  return "?";
}

std::vector<Fault> LineUnderTest::Faults() const {
  return {Fault::Silence, Fault::Corrupt, Fault::Garbage, Fault::Noise,     Fault::Truncate,
          Fault::Split,   Fault::Delay,   Fault::Late,    Fault::Duplicate, Fault::LoseRequest};
}

std::vector<std::unique_ptr<LineUnderTest>> MakeLines(ControlKind kind, int first, int count, std::uint32_t seed) {
  if (kind == ControlKind::UdpLink) return MakeUdpLinkLines(first, count, seed);
  std::vector<std::unique_ptr<LineUnderTest>> lines;
  for (int i = first; i < first + count; ++i) {
    const std::uint32_t lineSeed = seed + static_cast<std::uint32_t>(i);
    switch (kind) {
      case ControlKind::RtuLink: lines.push_back(MakeRtuLinkLine(i, lineSeed)); break;
      case ControlKind::SeqLink: lines.push_back(MakeSeqLinkLine(i, lineSeed)); break;
      case ControlKind::DfLink: lines.push_back(MakeDfLinkLine(i, lineSeed)); break;
      case ControlKind::UdpLink: break;
    }
  }
  return lines;
}

}  // namespace plc::faults

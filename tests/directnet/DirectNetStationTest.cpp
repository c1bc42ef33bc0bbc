// The simulated station as a real one lays out its memory: bit areas byte-addressed (a word
// at a bit address is that address's eight points and the next one's), set/reset only for C
// points, and a header naming memory it does not have answered with NAK, memory untouched. What
// it received is counted, closing EOTs among it.
#include <gtest/gtest.h>

#include "directnet/Blocks.h"
#include "tools/plcsim/DirectNetStation.h"

namespace plc {
namespace {

using sim::DirectNetStation;
using sim::StationBytes;

constexpr std::uint8_t kNak = 0x15;

// One whole transaction's exchange: enquiry, header, and the ACK and EOT when the header was
// answered with a reply. Returns the station's answer to the header.
StationBytes Exchange(DirectNetStation& s, const dnet::Bytes& header) {
  auto answers = s.Feed(*dnet::Enquiry(1));
  EXPECT_EQ(answers.size(), 1u);
  answers = s.Feed(header);
  EXPECT_EQ(answers.size(), 1u);
  if (answers.empty()) return {};
  const StationBytes reply = answers.front();
  if (reply.size() > 1) {
    EXPECT_EQ(s.Feed(dnet::Bytes{dnet::ACK}), std::vector<StationBytes>{{dnet::EOT}});
    EXPECT_TRUE(s.Feed(dnet::Bytes{dnet::EOT}).empty());
  }
  return reply;
}

std::vector<std::uint16_t> WordsOf(const StationBytes& reply) {
  std::vector<std::uint16_t> words;
  for (std::size_t at = 7; at + 3 < reply.size(); at += 2) words.push_back(static_cast<std::uint16_t>(reply[at] | reply[at + 1] << 8));
  return words;
}

TEST(DirectNetStation, BitAreasAreByteAddressedAndWordAreasWordAddressed) {
  DirectNetStation s({1});
  s.SetByte(1, 0x4100, 0x85);  // X0, X2, X7
  s.SetByte(1, 0x4101, 0x02);  // X11
  s.SetByte(1, 0x4102, 0xFF);
  s.SetWord(1, 0x0400, 1234);
  s.SetWord(1, 0x0401, 5678);
  EXPECT_EQ(s.Word(1, 0x4100), 0x0285);
  EXPECT_EQ(s.Word(1, 0x4101), 0xFF02) << "a word at a bit address: its points, then the next address's";

  EXPECT_EQ(WordsOf(Exchange(s, *dnet::ReadHeader(0x4100, 2))), (std::vector<std::uint16_t>{0x0285, 0x00FF}));
  EXPECT_EQ(WordsOf(Exchange(s, *dnet::ReadHeader(0x0400, 2))), (std::vector<std::uint16_t>{1234, 5678}));

  // A word write over Y stores two addresses' points, low byte first.
  const auto before = s.Image(1);
  const std::int32_t word[] = {0x1020};
  EXPECT_EQ(Exchange(s, *dnet::WordWriteHeader(0x4140, *dnet::PackWriteWords(word))).size(), 8u);
  EXPECT_EQ(s.Byte(1, 0x4140), 0x20);
  EXPECT_EQ(s.Byte(1, 0x4141), 0x10);
  auto after = s.Image(1);
  after.bits[0x140] = before.bits[0x140];
  after.bits[0x141] = before.bits[0x141];
  EXPECT_EQ(after, before) << "nothing else changed";
}

TEST(DirectNetStation, SetAndResetReachOnlyCPoints) {
  DirectNetStation s({1});
  EXPECT_EQ(Exchange(s, *dnet::SetResetHeader(0xF00A, true)).size(), 8u);  // C12
  EXPECT_EQ(s.Byte(1, 0x4181), 1 << 2);
  EXPECT_EQ(Exchange(s, *dnet::SetResetHeader(0xF3FF, true)).size(), 8u);  // C1777
  EXPECT_EQ(s.Byte(1, 0x41FF), 0x80);
  EXPECT_EQ(Exchange(s, *dnet::SetResetHeader(0xF00A, false)).size(), 8u);
  EXPECT_EQ(s.Byte(1, 0x4181), 0);

  const auto before = s.Image(1);
  for (std::int32_t address : {0x4140, 0x4100, 0x0400, 0xF400, 0xEFFF})
    EXPECT_EQ(Exchange(s, *dnet::SetResetHeader(address, true)), StationBytes{kNak}) << std::hex << address;
  EXPECT_EQ(s.Image(1), before);
  EXPECT_EQ(s.Counts().refused, 5);
}

TEST(DirectNetStation, RequestsBeyondItsMemoryAreAnsweredWithNak) {
  DirectNetStation s({1});
  const std::int32_t two[] = {1, 2};
  const auto before = s.Image(1);
  const dnet::Bytes refused[] = {
      *dnet::ReadHeader(0x41FF, 1),  // the last bit address and the first word of S
      *dnet::ReadHeader(0x3FFF, 2),  // the last word below the bit area and the first points
      *dnet::ReadHeader(0x8000, 1),  // no memory
      *dnet::ReadHeader(0xF000, 1),  // set/reset addresses hold nothing to read
      *dnet::WordWriteHeader(0x7FFF, *dnet::PackWriteWords(two)),
  };
  for (const auto& header : refused) EXPECT_EQ(Exchange(s, header), StationBytes{kNak});
  EXPECT_EQ(s.Image(1), before);
  EXPECT_EQ(WordsOf(Exchange(s, *dnet::ReadHeader(0x41FE, 1))).size(), 1u) << "the last two points are one word";
  EXPECT_EQ(WordsOf(Exchange(s, *dnet::ReadHeader(0x7FFF, 1))).size(), 1u);
  EXPECT_FALSE(s.SetWord(1, 0x41FF, 1));
  EXPECT_FALSE(s.SetWord(1, 0x9000, 1));
}

TEST(DirectNetStation, AHeaderOutsideTheBlockLayoutIsAnsweredWithNak) {
  DirectNetStation s({1});
  auto header = [](std::uint8_t type, std::uint8_t count) {
    dnet::Bytes h{0x01, 0x40, type, 0x04, 0x00, count, 0x17};
    std::uint8_t lrc = 0;
    for (std::size_t i = 1; i + 1 < h.size(); ++i) lrc ^= h[i];
    h.push_back(lrc);
    return h;
  };
  EXPECT_EQ(WordsOf(Exchange(s, header(0x01, 1))).size(), 1u) << "the layout itself";
  EXPECT_EQ(Exchange(s, header(0x02, 1)), StationBytes{kNak}) << "a type byte other than 01h";
  EXPECT_EQ(Exchange(s, header(0x01, 0)), StationBytes{kNak}) << "a read of no words";
}

TEST(DirectNetStation, CountsWhatItReceived) {
  DirectNetStation s({1});
  Exchange(s, *dnet::ReadHeader(0x0400, 1));                 // 3 + 8 + 1 + 1
  Exchange(s, *dnet::SetResetHeader(0x4140, true));          // 3 + 7, refused
  s.Feed(dnet::Bytes{0x00, 0x7F});                           // noise
  s.Feed(*dnet::Enquiry(9));                                 // another station's enquiry
  const sim::StationCounts& c = s.Counts();
  EXPECT_EQ(c.bytes, 13 + 10 + 2 + 3);
  EXPECT_EQ(c.enquiries, 2);
  EXPECT_EQ(c.headers, 2);
  EXPECT_EQ(c.refused, 1);
  EXPECT_EQ(c.acks, 1);
  EXPECT_EQ(c.closingEots, 1);
  EXPECT_EQ(c.stray, 5);
  EXPECT_EQ(sim::CountsText(c),
            "received 28 bytes: 2 enquiries, 2 headers (1 refused), 1 ACKs, 1 closing EOTs, 5 stray");
}

}  // namespace
}  // namespace plc

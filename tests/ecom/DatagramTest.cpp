// The hei_pas datagrams and module list: round trips, and what the parsers refuse.
#include <gtest/gtest.h>

#include "ecom/heipas/Datagram.h"
#include "ecom/heipas/ModuleList.h"

namespace heipas {
namespace {

std::vector<Datagram> Samples() {
  Datagram query{.kind = Kind::Query, .sequence = 7};
  Datagram reply{.kind = Kind::QueryReply, .sequence = 7, .moduleId = 3, .deviceType = 1, .name = "PRESS"};
  Datagram read{.kind = Kind::Ccm, .sequence = 0x01020304, .moduleId = 3, .dataType = 0x31, .address = 0x8000, .length = 6};
  Datagram answer = read;
  answer.kind = Kind::CcmReply;
  answer.data = {0x34, 0x12, 0x00, 0x01, 0xFF, 0xFF};
  Datagram write{.kind = Kind::Ccm, .moduleId = 1, .write = 1, .dataType = 0x33, .address = 0x101, .length = 2, .data = {5, 0x81}};
  Datagram refused{.kind = Kind::CcmReply, .moduleId = 1, .status = StatusBadLength, .dataType = 0x32, .length = 9};
  return {query, reply, read, answer, write, refused};
}

TEST(EcomDatagram, RoundTripsAndLayout) {
  for (const Datagram& d : Samples()) {
    const auto bytes = Encode(d);
    EXPECT_EQ(Parse(bytes), d);
  }
  const auto bytes = Encode(Samples()[2]);
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 2),
            (std::vector<std::uint8_t>{0x45, 0x43, 1, 0x02, 4, 3, 2, 1, 3, 0, 6, 0, 0, 0x31, 0x00, 0x80, 6, 0}));
}

TEST(EcomDatagram, TheCheckCoversEveryByteBeforeIt) {
  // The answer of Samples() byte for byte, its Fletcher-16 worked out by hand: sum1 24h, sum2 54h.
  EXPECT_EQ(Encode(Samples()[3]),
            (std::vector<std::uint8_t>{0x45, 0x43, 1, 0x82, 4, 3, 2, 1, 3, 0, 12, 0, 0, 0x31, 0x00, 0x80, 6, 0, 0x34,
                                       0x12, 0x00, 0x01, 0xFF, 0xFF, 0x24, 0x54}));
  // The last data byte, just before the check, changed: refused.
  auto bytes = Encode(Samples()[3]);
  bytes[bytes.size() - 3] ^= 0x01;
  EXPECT_FALSE(Parse(bytes));
}

TEST(EcomDatagram, RefusesWhatIsNotExactlyADatagram) {
  const auto good = Encode(Samples()[3]);
  auto changed = [&](auto edit) {
    auto b = good;
    edit(b);
    return Parse(b);
  };
  EXPECT_FALSE(Parse(std::span(good).first(good.size() - 1)));                   // truncated
  EXPECT_FALSE(Parse(std::span(good).first(5)));                                 // shorter than a header
  EXPECT_FALSE(changed([](auto& b) { b.push_back(0); }));                        // a byte too many
  EXPECT_FALSE(changed([](auto& b) { b[13] ^= 1; }));                            // corrupt
  EXPECT_FALSE(changed([](auto& b) { b[0] = 'X'; }));                            // not ours
  EXPECT_FALSE(changed([](auto& b) { b.resize(kMaxDatagram + 1); }));           // oversized
  // A consistent datagram whose fields are out of range: data type 34h, a length over 1001.
  Datagram bad = Samples()[2];
  auto bytes = Encode(bad);
  bytes[13] = 0x34;
  bytes[bytes.size() - 2] = static_cast<std::uint8_t>(Fletcher16(std::span(bytes).first(bytes.size() - 2)) & 0xFF);
  bytes[bytes.size() - 1] = static_cast<std::uint8_t>(Fletcher16(std::span(bytes).first(bytes.size() - 2)) >> 8);
  EXPECT_FALSE(Parse(bytes));
  bad.length = 1002;
  EXPECT_THROW(Encode(bad), std::invalid_argument);
}

TEST(EcomDatagram, Fletcher16AgainstItsDefinition) {
  auto bytesOf = [](const char* text) {
    return std::vector<std::uint8_t>(text, text + std::char_traits<char>::length(text));
  };
  EXPECT_EQ(Fletcher16(bytesOf("abcde")), 0xC8F0);
  EXPECT_EQ(Fletcher16(bytesOf("abcdef")), 0x2057);
  // The blocked sums agree with a reduction after every byte, across the block boundary.
  std::vector<std::uint8_t> ff(1100);
  for (std::size_t i = 0; i < ff.size(); ++i) ff[i] = static_cast<std::uint8_t>(0xF0 + i % 16);
  for (std::size_t n : {358u, 359u, 360u, 718u, 1100u}) {
    std::uint32_t s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < n; ++i) {
      s1 = (s1 + ff[i]) % 255;
      s2 = (s2 + s1) % 255;
    }
    EXPECT_EQ(Fletcher16(std::span(ff).first(n)), s1 | (s2 << 8)) << n;
  }
}

TEST(EcomModuleList, EntriesSeparatorsAndRefusals) {
  const auto list = ParseModuleList("127.0.0.1:28785, 127.0.0.2 # the spare\n10.1.2.3:7;");
  ASSERT_TRUE(list);
  EXPECT_EQ(*list, (std::vector<ModuleAddress>{{0x7F000001, 28785}, {0x7F000002, kDefaultPort}, {0x0A010203, 7}}));
  EXPECT_EQ(ParseModuleList(""), std::vector<ModuleAddress>{});
  for (const char* bad : {"127.0.0.1:0", "127.0.0.1:65536", "127.0.0:1", "256.0.0.1", "localhost", "1.2.3.4:x"})
    EXPECT_FALSE(ParseModuleList(bad)) << bad;
  std::string many;
  for (int i = 0; i < 65; ++i) many += "127.0.0.1 ";
  EXPECT_FALSE(ParseModuleList(many));
}

}  // namespace
}  // namespace heipas

// The key-table mechanism on a toy record: read order, write order, write-only keys, the
// ambient-font default, and a failed conversion that leaves the record untouched.
#include "frame/PersistedKeys.h"

#include <gtest/gtest.h>

#include "base/RuntimeError.h"

namespace plc {
namespace {

struct Toy {
  std::int16_t port = 1;
  Font font;
  std::int32_t speed = 0;
  std::vector<std::string> applied;
};

PersistedKey<Toy> Logged(PersistedKey<Toy> k) {
  auto apply = k.apply;
  std::string name = k.key;
  k.apply = [apply, name](Toy& t, const Variant& v) {
    apply(t, v);
    t.applied.push_back(name);
  };
  return k;
}

KeyTable<Toy> Table() {
  PersistedKey<Toy> font = MemberKey<Toy>("Font", VarType::Font, Variant(), Variant(), [](Toy& t) -> Font& { return t.font; });
  font.ambientFontDefault = true;
  PersistedKey<Toy> echo = MemberKey<Toy>("Echo", VarType::Int32, 0, 0, [](Toy& t) -> std::int32_t& { return t.speed; });
  echo.apply = nullptr;
  return KeyTable<Toy>(
      {Logged(MemberKey<Toy>("Port", VarType::Int16, Variant(std::int16_t{1}), Variant(std::int16_t{1}),
                             [](Toy& t) -> std::int16_t& { return t.port; })),
       Logged(font),
       Logged(MemberKey<Toy>("Speed", VarType::Int32, 9600, 19200, [](Toy& t) -> std::int32_t& { return t.speed; })),
       echo},
      {"Speed", "Echo", "Port", "Font"});
}

TEST(PersistedKeys, ReadsInTableOrderAndWritesInTheGivenOrder) {
  KeyTable<Toy> table = Table();
  EXPECT_EQ(table.ReadOrder(), (std::vector<std::string>{"Port", "Font", "Speed"}));
  EXPECT_EQ(table.WriteOrder(), (std::vector<std::string>{"Speed", "Echo", "Port", "Font"}));
  Toy toy;
  MemoryPropertyBag bag;
  table.Read(toy, bag, Font{});
  EXPECT_EQ(toy.applied, (std::vector<std::string>{"Port", "Font", "Speed"}));
  EXPECT_EQ(toy.speed, 9600) << "read default";
  table.Write(toy, bag, Font{});
  EXPECT_EQ(bag.Values().at("Speed"), Variant(std::int32_t{9600})) << "differs from the write default 19200";
  EXPECT_EQ(bag.Values().at("Echo"), Variant(std::int32_t{9600}));
  EXPECT_EQ(bag.Values().count("Port"), 0u);
}

TEST(PersistedKeys, TheFontDefaultsToTheHostsAmbientFont) {
  KeyTable<Toy> table = Table();
  const Font ambient{"Arial", 12, false, true};
  Toy toy;
  MemoryPropertyBag empty;
  table.Read(toy, empty, ambient);
  EXPECT_EQ(toy.font, ambient);
  MemoryPropertyBag out;
  table.Write(toy, out, ambient);
  EXPECT_EQ(out.Values().count("Font"), 0u);
  table.Write(toy, out, Font{});
  EXPECT_EQ(out.Values().at("Font"), Variant(ambient));
}

TEST(PersistedKeys, AValueThatDoesNotConvertFailsBeforeAnythingIsApplied) {
  KeyTable<Toy> table = Table();
  Toy toy;
  MemoryPropertyBag bag;
  bag.Put("Port", std::int16_t{4});
  bag.Put("Speed", "fast");
  EXPECT_THROW(table.Read(toy, bag, Font{}), RuntimeError);
  EXPECT_TRUE(toy.applied.empty());
  EXPECT_EQ(toy.port, 1);
}

TEST(PersistedKeys, AWriteOrderNamingAnUnknownKeyIsAProgrammingError) {
  EXPECT_THROW(KeyTable<Toy>({}, {"Nope"}), std::logic_error);
}

}  // namespace
}  // namespace plc

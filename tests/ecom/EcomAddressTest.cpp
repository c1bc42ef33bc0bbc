// The ECOM address road on its own: what each form resolves to, and what it refuses with a
// text naming the address (octal digits only, a station that is a module ID, a CCM address
// that fits its 16-bit field).
#include <gtest/gtest.h>

#include "ecom/EcomAddress.h"

namespace plc::ecom {
namespace {

EcomResolution Resolve(const Variant& address, TagDatabase& tags) { return ResolveEcomAddress(address, 1, tags); }

TEST(EcomAddress, FormsAndTheirTargets) {
  TagDatabase tags;
  tags.AddTag(1, Variant("Tumbler"), Variant("2;Y,17"));
  tags.AddTag(2, Variant("Level"), Variant(std::int32_t{2000}));
  ASSERT_TRUE(tags.AddTag(3, Variant("Digits"), Variant("2001")));
  struct Case {
    Variant address;
    std::int32_t station;
    CcmTarget target;
  };
  const Case cases[] = {
      {Variant("V,2000"), 1, {kRegisters, 1024, false, 0}},
      {Variant(std::int32_t{2000}), 1, {kRegisters, 1024, false, 0}},
      {Variant("2000"), 1, {kRegisters, 1024, false, 0}},
      {Variant("V,177776"), 1, {kRegisters, 65534, false, 0}},
      {Variant("255;x,17"), 255, {kInputs, 0x102, true, 7}},
      // Each bit area to its last point, where the next area of its data type begins.
      {Variant("X,1777"), 1, {kInputs, 0x180, true, 7}},
      {Variant("Y,1777"), 1, {kOutputs, 0x180, true, 7}},
      {Variant("C,3777"), 1, {kOutputs, 0x280, true, 7}},
      {Variant("SP,777"), 1, {kInputs, 0x1C0, true, 7}},
      {Variant("S,1777"), 1, {kOutputs, 0x300, true, 7}},
      {Variant("T,377"), 1, {kOutputs, 0x320, true, 7}},
      {Variant("CT,377"), 1, {kOutputs, 0x340, true, 7}},
      {Variant("GX,3777"), 1, {kInputs, 0x100, true, 7}},
      {Variant("GY,3777"), 1, {kOutputs, 0x100, true, 7}},
      {Variant("Q,17"), 1, {kRegisters, 15, false, 0}},  // an unknown type is V-memory
      {Variant("Tumbler"), 2, {kOutputs, 0x102, true, 7}},
      {Variant("Level"), 1, {kRegisters, 1024, false, 0}},
      {Variant("Digits"), 1, {kRegisters, 1025, false, 0}},
  };
  for (const Case& c : cases) {
    const EcomResolution r = Resolve(c.address, tags);
    ASSERT_TRUE(r.address) << c.address.ToString() << ": " << r.refusal;
    EXPECT_EQ(r.address->station, c.station) << c.address.ToString();
    EXPECT_EQ(r.address->target, c.target) << c.address.ToString();
  }
}

TEST(EcomAddress, RefusalsNameTheAddressAndTheLimit) {
  TagDatabase tags;
  tags.AddTag(1, Variant("Broken"), Variant("nothing here"));
  const std::pair<Variant, std::string> cases[] = {
      {Variant("V,8"), "address 'V,8' not understood: 8 is not an octal digit"},
      {Variant(std::int32_t{8}), "address '8' not understood: 8 is not an octal digit"},
      {Variant("19"), "address '19' not understood: 9 is not an octal digit"},
      {Variant("V,-1"), "address 'V,-1' not understood: '-1' after ',' is not a number"},
      {Variant(2.5), "address '2.5' not understood: '2.5' is not an octal number"},
      {Variant("V,177777"), "address 'V,177777' not understood: V177777 is beyond V177776, the last a 16-bit CCM "
                            "address carries"},
      {Variant("V,1333272"), "address 'V,1333272' not understood: V1333272 is beyond V177776, the last a 16-bit CCM "
                             "address carries"},
      // The first number past each bit area would be another area's point (X2000 is SP0).
      {Variant("X,2000"), "address 'X,2000' not understood: X2000 is beyond X1777, the last X point"},
      {Variant("Y,2000"), "address 'Y,2000' not understood: Y2000 is beyond Y1777, the last Y point"},
      {Variant("C,4000"), "address 'C,4000' not understood: C4000 is beyond C3777, the last C point"},
      {Variant("SP,1000"), "address 'SP,1000' not understood: SP1000 is beyond SP777, the last SP point"},
      {Variant("S,2000"), "address 'S,2000' not understood: S2000 is beyond S1777, the last S point"},
      {Variant("T,400"), "address 'T,400' not understood: T400 is beyond T377, the last T point"},
      {Variant("CT,400"), "address 'CT,400' not understood: CT400 is beyond CT377, the last CT point"},
      {Variant("GX,4000"), "address 'GX,4000' not understood: GX4000 is beyond GX3777, the last GX point"},
      {Variant("2;gy,4000"), "address '2;gy,4000' not understood: GY4000 is beyond GY3777, the last GY point"},
      {Variant("X,1773770"), "address 'X,1773770' not understood: X1773770 is beyond X1777, the last X point"},
      {Variant("Q,17777777777"), "address 'Q,17777777777' not understood: V17777777777 is beyond V177776, the last "
                                 "a 16-bit CCM address carries"},
      {Variant("V,777777777777"), "address 'V,777777777777' not understood: the number 777777777777 is beyond 31 bits"},
      {Variant("256;V,0"), "address '256;V,0' not understood: the station before ';' is beyond 255"},
      {Variant("1;2000"), "address '1;2000' not understood: a station and a number need a memory type between them, "
                          "as in 1;V,2000"},
      {Variant("V,"), "address 'V,' not understood: no number after ','"},
      {Variant(",5"), "address ',5' not understood: no memory type before ','"},
      {Variant(";V,0"), "address ';V,0' not understood: no station number before ';'"},
      {Variant("2;3;V,0"), "address '2;3;V,0' not understood: more than one ';' (one station comes before the "
                           "memory type, as in 1;V,2000)"},
      {Variant(""), "address '' not understood: it is empty"},
      {Variant("Nosuchtag"), "address 'Nosuchtag' not understood: no tag of that name, nor a number or TYPE,number"},
      {Variant("Broken"), "address 'Broken' not understood: the tag's address 'nothing here' is neither a number nor "
                          "TYPE,number"},
      {Variant(VariantArray(1, 2)), "address '(an array)' not understood: it is neither text nor a number"},
  };
  for (const auto& [address, text] : cases) {
    const EcomResolution r = Resolve(address, tags);
    EXPECT_FALSE(r.address) << text;
    EXPECT_EQ(r.refusal, text);
  }
  // The host's text is quoted cut short, however long it is.
  tags.AddTag(2, Variant("Runaway"), Variant(std::string(3000, 'z')));
  for (const Variant& address : {Variant("V,-" + std::string(3000, '7')), Variant(std::string(3000, '7')),
                                 Variant("Runaway"), Variant(std::string(3000, 'y'))}) {
    const EcomResolution r = Resolve(address, tags);
    EXPECT_FALSE(r.address);
    EXPECT_LT(r.refusal.size(), 300u) << r.refusal;
  }
  // The default station is checked as one named before ';'.
  EXPECT_EQ(ResolveEcomAddress(Variant("V,0"), 300, tags).refusal,
            "address 'V,0' not understood: station 300 is beyond 255, the last module ID");
}

}  // namespace
}  // namespace plc::ecom

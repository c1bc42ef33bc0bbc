#include "base/Dispatch.h"

#include <gtest/gtest.h>
#include "tests/support/ErrorOf.h"

namespace plc {
namespace {

// A small object bound the way the controls bind themselves.
class Widget {
 public:
  std::int16_t Port() const { return port_; }
  void SetPort(std::int16_t p) { port_ = p; }
  std::string Name() const { return "w"; }

  std::int16_t Read(std::string& address, VariantArray& values, Opt<Variant> size, Opt<std::int16_t> ioType) {
    lastAddress = address;
    if (size.IsMissing()) size.Put(Variant(std::int16_t{1}));
    std::int32_t n = size.ValueOr(Variant(std::int16_t{1})).ToInt32();
    for (std::int32_t i = 0; i < n; ++i) values.Set(values.Lower() + i, Variant(10.0 * (i + 1)));
    address = "done";
    lastIoType = ioType.ValueOr(-7);
    return -1;
  }
  void Scale(double& value, double factor) { value *= factor; }

  std::string lastAddress;
  std::int16_t lastIoType = 0;

 private:
  std::int16_t port_ = 1;
};

DispatchTable<Widget> MakeTable() {
  DispatchTable<Widget> t;
  t.Property("CommPort", &Widget::Port, &Widget::SetPort)
      .ReadOnly("Name", &Widget::Name)
      .Method("ReadPLC", &Widget::Read, {"Address", "ReadValue", "ReadSize", "ioType"})
      .Method("Scale", &Widget::Scale, {"value", "factor"})
      .Event("CommCompleteEx", {{"MData", "Array", true, false}});
  return t;
}

using test::ErrorOf;

TEST(Dispatch, PropertiesByNameIgnoreCaseAndConvert) {
  auto t = MakeTable();
  Widget w;
  t.Set(w, "commport", Variant("3"));
  EXPECT_EQ(w.Port(), 3);
  EXPECT_EQ(t.Get(w, "COMMPORT").Type(), VarType::Int16);
  EXPECT_EQ(ErrorOf([&] { t.Set(w, "CommPort", Variant(70000.0)); }), err::Overflow);
  EXPECT_EQ(ErrorOf([&] { t.Set(w, "Name", Variant("x")); }), err::ReadOnlyProperty);
  EXPECT_EQ(ErrorOf([&] { t.Get(w, "Nope"); }), err::MemberNotFound);
  EXPECT_EQ(ErrorOf([&] { t.Invoke(w, "CommPort", {}); }), err::MemberNotFound);
}

TEST(Dispatch, ByReferenceArgumentsAreWrittenBack) {
  auto t = MakeTable();
  Widget w;
  Variant address("40001"), values(VariantArray(1, 3, VarType::Double)), size(std::int16_t{2}), io(std::int16_t{5});
  Variant r = t.Invoke(w, "ReadPLC", {&address, &values, &size, &io});
  EXPECT_EQ(r.ToInt16(), -1);
  EXPECT_EQ(w.lastAddress, "40001");
  EXPECT_EQ(address.ToString(), "done");
  EXPECT_DOUBLE_EQ(values.Array().Get(2).ToDouble(), 20.0);
  EXPECT_EQ(w.lastIoType, 5);

  Variant d(2.0), f(4.0);
  t.Invoke(w, "Scale", {&d, &f});
  EXPECT_DOUBLE_EQ(d.ToDouble(), 8.0);
}

TEST(Dispatch, OmittedOptionalsTakeDefaultsAndDropWrites) {
  auto t = MakeTable();
  Widget w;
  Variant address("1"), values(VariantArray(0, 0, VarType::Double));
  EXPECT_EQ(t.Invoke(w, "ReadPLC", {&address, &values, nullptr}).ToInt16(), -1);
  EXPECT_EQ(w.lastIoType, -7);
  EXPECT_DOUBLE_EQ(values.Array().Get(0).ToDouble(), 10.0);
  // A required argument cannot be omitted; too many arguments are refused.
  EXPECT_EQ(ErrorOf([&] { t.Invoke(w, "ReadPLC", {nullptr, &values}); }), err::ArgumentNotOptional);
  Variant extra;
  EXPECT_EQ(ErrorOf([&] { t.Invoke(w, "Scale", {&extra, &extra, &extra}); }), err::WrongArgumentCount);
  // An array parameter given a scalar is a type mismatch.
  Variant scalar(1.0);
  EXPECT_EQ(ErrorOf([&] { t.Invoke(w, "ReadPLC", {&address, &scalar}); }), err::TypeMismatch);
}

TEST(Dispatch, MembersDescribeKindsAndParameters) {
  auto t = MakeTable();
  const auto& m = t.Members();
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m[0].kind, MemberKind::Property);
  EXPECT_TRUE(m[0].writable);
  EXPECT_FALSE(m[1].writable);
  const MemberInfo& read = m[2];
  ASSERT_EQ(read.params.size(), 4u);
  EXPECT_EQ(read.params[0].name, "Address");
  EXPECT_EQ(read.params[0].type, "String");
  EXPECT_TRUE(read.params[0].byRef);
  EXPECT_FALSE(read.params[0].optional);
  EXPECT_EQ(read.params[1].type, "Array");
  EXPECT_TRUE(read.params[2].optional);
  EXPECT_EQ(read.params[3].type, "Integer");
  EXPECT_EQ(read.result, "Integer");
  EXPECT_FALSE(m[3].params[1].byRef);
  EXPECT_EQ(m[4].kind, MemberKind::Event);
}

}  // namespace
}  // namespace plc

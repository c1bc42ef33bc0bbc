#include "platform/IniPropertyBag.h"

#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "tests/platform/TempFolder.h"

namespace plc {
namespace {

using testing::FileSizeLimit;
using testing::ReadRaw;
using testing::TempFolder;
using testing::WriteRaw;

// Runs `f` and returns the RuntimeError it throws (number 0 when it throws none).
template <class F>
RuntimeError ErrorOf(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e;
  }
  return RuntimeError(0, "no error");
}

TEST(IniPropertyBag, EveryPersistedTypeComesBackWithItsType) {
  const std::vector<std::pair<std::string, Variant>> values = {
      {"CommPort", Variant(std::int16_t{3})},
      {"BackStyle", Variant(std::int16_t{-32768})},
      {"BackColor", Variant(std::int32_t{5})},  // small, yet still a Long
      {"Address", Variant(std::int32_t{-2147483647 - 1})},
      {"Level", Variant(std::uint8_t{200})},
      {"Enabled", Variant(true)},
      {"PortOpen", Variant(false)},
      {"Settings", Variant("9600,e,8,1")},
      {"Tricky", Variant("  lead; semi=equals \"quoted\" back\\slash\ttab ")},
      {"Lines", Variant(std::string("a\r\nb\0\x01\x7f end", 11))},
      {"Blank", Variant("")},
      {"WordLike", Variant("True")},
      {"Ratio", Variant(0.1)},
      {"Whole", Variant(2.0)},
      {"Huge", Variant(-1.5e300)},
      {"Gain", Variant(1.25f)},
      {"Font", Variant(Font{"MS Sans Serif", 8.25, false, false})},
      {"Odd Font", Variant(Font{"Courier \"New\", bold", 12.0, true, true})},
  };
  TempFolder dir;
  std::string file = dir.File("form.ini");
  IniPropertyBag out(file, "RtuLink1");
  for (const auto& [key, value] : values) out.WriteProperty(key, value, Variant());
  out.Save();

  IniPropertyBag in(file, "rtulink1");
  for (const auto& [key, value] : values) {
    Variant back = in.ReadProperty(key, Variant("absent"));
    EXPECT_EQ(back.Type(), value.Type()) << key;
    EXPECT_TRUE(back == value) << key << ": " << back.ToString() << " in " << ReadRaw(file);
  }
}

TEST(IniPropertyBag, ValueTextIsTheDocumentedForm) {
  EXPECT_EQ(FormatProfileValue(Variant(std::int16_t{1})), "1");
  EXPECT_EQ(FormatProfileValue(Variant(std::int32_t{40000})), "40000&");
  EXPECT_EQ(FormatProfileValue(Variant(2.0)), "2.0");
  EXPECT_EQ(FormatProfileValue(Variant(true)), "True");
  EXPECT_EQ(FormatProfileValue(Variant("say \"hi\"\\")), "\"say \\\"hi\\\"\\\\\"");
  EXPECT_EQ(FormatProfileValue(Variant(Font{})), "Font(\"MS Sans Serif\",8.25,0,0)");
  EXPECT_EQ(ErrorOf([] { FormatProfileValue(Variant(VariantArray(0, 2))); }).Number(), err::TypeMismatch);

  // Hand-edited documents: unquoted text is a String, large plain numbers are Longs.
  struct {
    const char* text;
    Variant expected;
  } reads[] = {
      {"9600,e,8,1", Variant("9600,e,8,1")},
      {"  40000 ", Variant(std::int32_t{40000})},
      {"-7", Variant(std::int16_t{-7})},
      {"false", Variant(false)},
      {"\"unclosed", Variant("\"unclosed")},
      {"\"bad \\q escape\"", Variant("\"bad \\q escape\"")},
      {"Font(\"Arial\",10,1)", Variant("Font(\"Arial\",10,1)")},
      {"Byte(300)", Variant("Byte(300)")},
      {"1e3", Variant(1000.0)},
      {"Empty", Variant()},
      // A value with a comment after it, as the plant document's example shows them.
      {"1             ; QVL_COMn maps a port number to a device", Variant(std::int16_t{1})},
      {"\"RtuLink\"      ; RtuLink, SeqLink, DfLink or UdpLink", Variant("RtuLink")},
      {"\"a ;b\"\t; c", Variant("a ;b")},
      {"200&  ;ms", Variant(std::int32_t{200})},
      // Text that is no value keeps its ';': settings and addresses may hold one.
      {"9600,e,8,1 ; note", Variant("9600,e,8,1 ; note")},
      {"3;40001", Variant("3;40001")},
  };
  for (const auto& r : reads) {
    Variant v = ParseProfileValue(r.text);
    EXPECT_TRUE(v == r.expected && v.Type() == r.expected.Type()) << r.text;
  }
}

TEST(IniPropertyBag, OnlyValuesOtherThanTheirWriteDefaultAreStored) {
  TempFolder dir;
  std::string file = dir.File("form.ini");
  {
    IniPropertyBag bag(file, "RtuLink1");
    bag.WriteProperty("CommPort", Variant(std::int16_t{1}), Variant(std::int16_t{1}));
    bag.WriteProperty("Address", Variant(std::int16_t{2}), Variant(std::int32_t{2}));  // equal across types
    bag.WriteProperty("ComHandshaking", Variant(std::int32_t{0}), Variant(true));      // 0 differs from True
    bag.WriteProperty("Settings", Variant("9600,n,8,1"), Variant("9600,e,8,1"));
    bag.WriteProperty("NumOfReadRetries", Variant(std::int16_t{5}), Variant(std::int16_t{2}));
    bag.Save();
  }
  EXPECT_EQ(ReadRaw(file), "[RtuLink1]\nComHandshaking=0&\nSettings=\"9600,n,8,1\"\nNumOfReadRetries=5\n");

  // The next save writes every key again; one now back at its default disappears.
  IniPropertyBag bag(file, "RtuLink1");
  bag.WriteProperty("ComHandshaking", Variant(std::int32_t{0}), Variant(true));
  bag.WriteProperty("Settings", Variant("9600,n,8,1"), Variant("9600,e,8,1"));
  bag.WriteProperty("NumOfReadRetries", Variant(std::int16_t{2}), Variant(std::int16_t{2}));
  bag.Save();
  EXPECT_EQ(ReadRaw(file), "[RtuLink1]\nComHandshaking=0&\nSettings=\"9600,n,8,1\"\n");
  EXPECT_TRUE(bag.ReadProperty("NumOfReadRetries", Variant(std::int16_t{2})) == Variant(std::int16_t{2}));

  // A save with nothing written leaves the file as it is; a Clear empties the section.
  const std::string before = ReadRaw(file);
  IniPropertyBag untouched(file, "RtuLink1");
  untouched.Save();
  EXPECT_EQ(ReadRaw(file), before);
  untouched.Clear();
  untouched.Save();
  EXPECT_EQ(ReadRaw(file), "[RtuLink1]\n");
  // The empty section is still the stored control's; another section is not in the file.
  EXPECT_TRUE(IniPropertyBag(file, "rtulink1").SectionFound());
  EXPECT_FALSE(IniPropertyBag(file, "RtuLink2").SectionFound());
}

// A control whose every value is at its default (a new DfLink) stores no key; saved where its
// section is not yet, it still leaves the section, or restoring would take it for a control
// never saved and give it a new control's start (plclink's --bag then said it had no section).
TEST(IniPropertyBag, AControlSavedWithEveryValueAtItsDefaultLeavesItsSection) {
  TempFolder dir;
  for (const std::string& before : {std::string(), std::string("[Other]\nA=1\n"), std::string("[Other]\nA=1")}) {
    SCOPED_TRACE(before);
    const std::string file = dir.File("form.ini");
    WriteRaw(file, before);
    {
      IniPropertyBag bag(file, "DfLink1");
      EXPECT_FALSE(bag.SectionFound());
      bag.WriteProperty("Mode", Variant(std::int16_t{2}), Variant(std::int16_t{2}));
      bag.Save();
    }
    EXPECT_TRUE(IniPropertyBag(file, "DfLink1").SectionFound()) << ReadRaw(file);
    EXPECT_EQ(IniPropertyBag(file, "Other").ReadProperty("A", Variant()), before.empty() ? Variant() : Variant(std::int16_t{1}));
  }
  // With no file at all the same.
  const std::string fresh = dir.File("fresh.ini");
  {
    IniPropertyBag bag(fresh, "DfLink1");
    bag.WriteProperty("Mode", Variant(std::int16_t{2}), Variant(std::int16_t{2}));
    bag.Save();
  }
  EXPECT_EQ(ReadRaw(fresh), "[DfLink1]\n");
}

TEST(IniPropertyBag, TwoControlsInOneFileKeepOutOfEachOthersSections) {
  TempFolder dir;
  std::string file = dir.File("form.ini");
  WriteRaw(file, "; operator screen\r\n[Screen]\r\nTitle=\"Line 3\"\r\n\r\n[SeqLink1]\r\nCommPort=4\r\n");
  IniPropertyBag rtu(file, "RtuLink1");
  IniPropertyBag seq(file, "SeqLink1");
  EXPECT_TRUE(seq.ReadProperty("CommPort", Variant()) == Variant(std::int16_t{4}));
  EXPECT_TRUE(rtu.ReadProperty("CommPort", Variant(std::int16_t{1})) == Variant(std::int16_t{1}));

  // Both were loaded before either saved: the second save must not undo the first.
  rtu.WriteProperty("CommPort", Variant(std::int16_t{2}), Variant(std::int16_t{1}));
  rtu.Save();
  seq.WriteProperty("CommPort", Variant(std::int16_t{4}), Variant(std::int16_t{1}));
  seq.WriteProperty("Address", Variant(std::int32_t{7}), Variant(std::int32_t{1}));
  seq.Save();
  EXPECT_EQ(ReadRaw(file),
            "; operator screen\r\n[Screen]\r\nTitle=\"Line 3\"\r\n\r\n[SeqLink1]\r\nCommPort=4\r\nAddress=7&\r\n"
            "\r\n[RtuLink1]\r\nCommPort=2\r\n");
}

// A plant document keeps its own keys in a control's section (Control=, run keys a control does
// not store): the control's save must leave them, as the file has them, beside its own.
TEST(IniPropertyBag, KeysTheSaveDidNotWriteStayAsTheFileHasThem) {
  TempFolder dir;
  std::string file = dir.File("plant.ini");
  WriteRaw(file, "[Packer]\nControl=\"DfLink\"   ; the plant's\nAddress=1&\nScanReadIOTimerInterval=250&\n");
  IniPropertyBag bag(file, "Packer");
  bag.WriteProperty("Address", Variant(std::int32_t{7}), Variant(std::int32_t{1}));
  bag.WriteProperty("Node", Variant(std::int32_t{1}), Variant(std::int32_t{1}));
  bag.Save();
  EXPECT_EQ(ReadRaw(file), "[Packer]\nControl=\"DfLink\"   ; the plant's\nAddress=7&\nScanReadIOTimerInterval=250&\n");

  // One another writer changed or removed meanwhile stays as that writer left it.
  IniPropertyBag again(file, "Packer");
  WriteRaw(file, "[Packer]\nControl=\"RtuLink\"\nAddress=7&\n");
  again.WriteProperty("Address", Variant(std::int32_t{8}), Variant(std::int32_t{1}));
  again.Save();
  EXPECT_EQ(ReadRaw(file), "[Packer]\nControl=\"RtuLink\"\nAddress=8&\n");

  // Clear still leaves only what is written after it.
  again.Clear();
  again.WriteProperty("Address", Variant(std::int32_t{9}), Variant(std::int32_t{1}));
  again.Save();
  EXPECT_EQ(ReadRaw(file), "[Packer]\nAddress=9&\n");
}

TEST(IniPropertyBag, ADocumentThatIsNoProfileIsRefusedNamingFileAndLine) {
  TempFolder dir;
  std::string file = dir.File("form.ini");
  const std::vector<std::pair<std::string, std::string>> corrupt = {
      {"[RtuLink1]\nCommPort=2\nthis is not an entry\n", "line 3"},
      {std::string("[RtuLink1]\nCommPort=2\n\0\0\0", 25), "line 3"},
  };
  for (const auto& [content, line] : corrupt) {
    WriteRaw(file, content);
    RuntimeError e = ErrorOf([&] { IniPropertyBag bag(file, "RtuLink1"); });
    EXPECT_EQ(e.Number(), err::BadFileFormat);
    EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(line), std::string::npos) << e.what();
    EXPECT_EQ(ReadRaw(file), content);
  }

  // A file spoilt between Load and Save is not overwritten either.
  WriteRaw(file, "[RtuLink1]\nCommPort=2\n");
  IniPropertyBag bag(file, "RtuLink1");
  bag.WriteProperty("CommPort", Variant(std::int16_t{3}), Variant(std::int16_t{1}));
  WriteRaw(file, "garbage\n");
  EXPECT_EQ(ErrorOf([&] { bag.Save(); }).Number(), err::BadFileFormat);
  EXPECT_EQ(ReadRaw(file), "garbage\n");
}

TEST(IniPropertyBag, AFailedSaveThrowsAndLeavesTheOldDocument) {
  TempFolder dir;
  std::string file = dir.File("form.ini");
  const std::string old = "[RtuLink1]\nCommPort=2\n";
  WriteRaw(file, old);
  IniPropertyBag bag(file, "RtuLink1");
  bag.WriteProperty("Settings", Variant("a long settings text that no longer fits"), Variant());
  RuntimeError e(0);
  {
    FileSizeLimit limit(old.size());
    e = ErrorOf([&] { bag.Save(); });
  }
  EXPECT_NE(e.Number(), 0);
  EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
  EXPECT_EQ(ReadRaw(file), old);
  EXPECT_EQ(dir.Count(), 1u);

  IniPropertyBag nowhere(dir.File("missing/form.ini"), "RtuLink1");  // a missing file loads empty
  nowhere.WriteProperty("CommPort", Variant(std::int16_t{2}), Variant(std::int16_t{1}));
  EXPECT_EQ(ErrorOf([&] { nowhere.Save(); }).Number(), err::FileNotFound);
  EXPECT_EQ(ErrorOf([] { IniPropertyBag().Save(); }).Number(), err::InvalidCall);
}

TEST(IniPropertyBag, AValueOfTheWrongTypeForItsKeyIsAnErrorNamingTheKey) {
  TempFolder dir;
  std::string file = dir.File("form.ini");
  WriteRaw(file, "[RtuLink1]\nCommPort=\"abc\"\nAddress=70000\nFont=8\nNumOfReadRetries=\"5\"\n");
  IniPropertyBag bag(file, "RtuLink1");
  struct {
    const char* key;
    VarType type;
    int number;
  } cases[] = {
      {"CommPort", VarType::Int16, err::TypeMismatch},
      {"Address", VarType::Int16, err::Overflow},
      {"Font", VarType::Font, err::TypeMismatch},
  };
  for (const auto& c : cases) {
    RuntimeError e = ErrorOf([&] { bag.ReadAs(c.key, c.type, Variant()); });
    EXPECT_EQ(e.Number(), c.number) << c.key;
    EXPECT_NE(std::string(e.what()).find(std::string("\"") + c.key + "\""), std::string::npos) << e.what();
  }
  // Text that is a number converts, as the host's conversion does.
  EXPECT_TRUE(bag.ReadAs("NumOfReadRetries", VarType::Int16, Variant()) == Variant(std::int16_t{5}));
  RuntimeError array = ErrorOf([&] { bag.WriteProperty("Data", Variant(VariantArray(0, 1)), Variant()); });
  EXPECT_EQ(array.Number(), err::TypeMismatch);
  EXPECT_NE(std::string(array.what()).find("\"Data\""), std::string::npos);
}

}  // namespace
}  // namespace plc

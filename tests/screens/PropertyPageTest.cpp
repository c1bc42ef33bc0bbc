// The property pages on the real controls, loaded from their plug-ins as a host loads them:
// what the page shows for a new control, typing, Apply in order up to the first refusal, and
// only the first selected control touched.
#include "screens/PropertyPage.h"

#include <gtest/gtest.h>

#include "base/RuntimeError.h"
#include "tests/support/PlacedControl.h"

namespace plc::screens {
namespace {

// A new control as a host places it, with a host that records the changed keys; &placed is
// the control as a selection holds it.
struct Placed : test::PlacedControl {
  using PlacedControl::PlacedControl;
  Dispatch* operator&() { return &*control; }
};

std::vector<std::string> Texts(const PropertyPage& page) {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < page.Fields().size(); ++i) texts.push_back(page.Text(i));
  return texts;
}

TEST(PropertyPage1, ANewRtuLinkShowsItsValuesInTheTablesOrder) {
  Placed rtu("rtulink");
  PropertyPage page = PropertyPage1();
  std::vector<std::string> boxes, labels;
  for (const PageField& f : page.Fields()) {
    boxes.push_back(f.box);
    labels.push_back(f.label);
  }
  EXPECT_EQ(boxes, (std::vector<std::string>{"txtNumOfWriteRetries", "txtNumOfReadRetries", "txtCommPort", "txtAddress",
                                             "txtSettings"}));
  EXPECT_EQ(labels, (std::vector<std::string>{"NumOfWriteRetries:", "NumOfReadRetries:", "CommPort:", "Address:",
                                              "Settings:"}));
  page.SelectionChanged({&rtu});
  EXPECT_EQ(Texts(page), (std::vector<std::string>{"2", "2", "1", "1", rtu.Get("Settings").ToString()}));
  EXPECT_FALSE(rtu.Get("Settings").ToString().empty());
  EXPECT_FALSE(page.Changed());
}

TEST(PropertyPage1, TypingMarksThePageChangedAndWritesNothing) {
  Placed rtu("rtulink");
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({&rtu});
  page.Type("txtCommPort", "5");
  page.Type("txtSettings", "19200,n,8,1");
  EXPECT_TRUE(page.Changed());
  EXPECT_EQ(page.Text("txtCommPort"), "5");
  // The page closes without Apply: the control is as it was.
  EXPECT_EQ(rtu.Get("CommPort").ToInt32(), 1);
  EXPECT_NE(rtu.Get("Settings").ToString(), "19200,n,8,1");
  EXPECT_TRUE(rtu.host.ChangedKeys().empty());
  EXPECT_THROW(page.Type("txtNoSuchBox", "1"), std::out_of_range);
}

TEST(PropertyPage1, ApplyingThreeInCommPortSetsCommPortThree) {
  Placed rtu("rtulink");
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({&rtu});
  page.Type("txtCommPort", "3");
  ApplyOutcome outcome = page.Apply();
  EXPECT_TRUE(outcome.applied) << outcome.message;
  EXPECT_EQ(rtu.Get("CommPort").ToInt32(), 3);
  EXPECT_FALSE(page.Changed());
  EXPECT_FALSE(rtu.Get("PortOpen").ToBool());
  // Every box is assigned, in order, so the host hears of each key.
  const auto& keys = rtu.host.ChangedKeys();
  EXPECT_NE(std::find(keys.begin(), keys.end(), "CommPort"), keys.end());
}

// The property set converts a text its own way; once applied, the page shows what it made of
// it, not the text as typed.
TEST(PropertyPage1, AnAppliedBoxShowsTheValueTheControlKeeps) {
  Placed rtu("rtulink");
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({&rtu});
  page.Type("txtNumOfReadRetries", "2.6");
  page.Type("txtCommPort", " 3 ");
  page.Type("txtAddress", "&H11");
  ApplyOutcome outcome = page.Apply();
  ASSERT_TRUE(outcome.applied) << outcome.message;
  EXPECT_EQ(page.Text("txtNumOfReadRetries"), rtu.Get("NumOfReadRetries").ToString());
  EXPECT_EQ(page.Text("txtCommPort"), rtu.Get("CommPort").ToString());
  EXPECT_EQ(page.Text("txtAddress"), rtu.Get("Address").ToString());
  EXPECT_EQ(page.Text("txtAddress"), "17");
  // A refusal later on: the boxes set before it show their values, the refused one its text.
  page.Type("txtNumOfWriteRetries", "4.4");
  page.Type("txtSettings", "fast please");
  outcome = page.Apply();
  ASSERT_FALSE(outcome.applied);
  EXPECT_EQ(page.Text("txtNumOfWriteRetries"), "4");
  EXPECT_EQ(page.Text("txtSettings"), "fast please");
  EXPECT_TRUE(page.Changed());
}

TEST(PropertyPage1, ARefusedSettingsStopsApplyAndKeepsWhatWasSetBefore) {
  Placed rtu("rtulink");
  const std::string settings = rtu.Get("Settings").ToString();
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({&rtu});
  page.Type("txtNumOfWriteRetries", "7");
  page.Type("txtCommPort", "4");
  page.Type("txtAddress", "9");
  page.Type("txtSettings", "9600,x,8,1");
  ApplyOutcome outcome = page.Apply();
  EXPECT_FALSE(outcome.applied);
  EXPECT_EQ(outcome.box, "txtSettings");
  EXPECT_EQ(outcome.error, err::InvalidPropertyValue);
  EXPECT_EQ(outcome.message.rfind("Settings: ", 0), 0u) << outcome.message;
  EXPECT_EQ(rtu.Get("NumOfWriteRetries").ToInt32(), 7);
  EXPECT_EQ(rtu.Get("CommPort").ToInt32(), 4);
  EXPECT_EQ(rtu.Get("Address").ToInt32(), 9);
  EXPECT_EQ(rtu.Get("Settings").ToString(), settings);
  EXPECT_TRUE(page.Changed()) << "the refused text is still to be applied";
}

// A refusal after other boxes were taken leaves the control half changed; its text says which
// properties now hold new values, so that closing the page is no guess about what it kept.
TEST(PropertyPage1, ARefusalSaysWhichPropertiesApplyHadChangedBeforeIt) {
  Placed rtu("rtulink");
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({&rtu});
  page.Type("txtNumOfReadRetries", "2");  // typed, but the value it had
  page.Type("txtAddress", "12");
  page.Type("txtSettings", "9600,q,8,1");
  ApplyOutcome outcome = page.Apply();
  ASSERT_FALSE(outcome.applied);
  EXPECT_EQ(outcome.message.rfind("Settings: ", 0), 0u) << outcome.message;
  EXPECT_NE(outcome.message.find("Address was applied"), std::string::npos) << outcome.message;
  EXPECT_EQ(outcome.message.find("NumOfReadRetries"), std::string::npos) << outcome.message;
  EXPECT_EQ(outcome.message.find("CommPort"), std::string::npos) << outcome.message;

  // Nothing taken before the refusal: only the refusal is said.
  Placed fresh("rtulink");
  page.SelectionChanged({&fresh});
  page.Type("txtSettings", "9600,q,8,1");
  outcome = page.Apply();
  ASSERT_FALSE(outcome.applied);
  EXPECT_EQ(outcome.message.find("applied"), std::string::npos) << outcome.message;

  // A property that keeps the value it then refuses to use says so too.
  page.Type("txtCommPort", "4");
  page.Type("txtAddress", "40000");
  outcome = page.Apply();
  ASSERT_FALSE(outcome.applied);
  EXPECT_EQ(outcome.box, "txtAddress");
  EXPECT_NE(outcome.message.find("; CommPort was applied; Address holds 40000 now"), std::string::npos)
      << outcome.message;
}

TEST(PropertyPage1, EachRefusalNamesItsPropertyAndStopsTheLaterOnes) {
  struct Case {
    const char* box;
    const char* text;
    int error;
  };
  for (Case c : {Case{"txtCommPort", "three", err::TypeMismatch}, Case{"txtNumOfReadRetries", "40000", err::Overflow},
                 Case{"txtAddress", "40000", err::Overflow}}) {
    Placed rtu("rtulink");
    PropertyPage page = PropertyPage1();
    page.SelectionChanged({&rtu});
    page.Type(c.box, c.text);
    page.Type("txtSettings", "19200,n,8,1");  // after every box above: never reached
    ApplyOutcome outcome = page.Apply();
    EXPECT_FALSE(outcome.applied) << c.box;
    EXPECT_EQ(outcome.box, c.box);
    EXPECT_EQ(outcome.error, c.error) << c.box << " " << outcome.message;
    EXPECT_NE(rtu.Get("Settings").ToString(), "19200,n,8,1") << c.box;
  }
}

TEST(PropertyPage1, OnlyTheFirstSelectedControlIsReadAndWritten) {
  Placed first("rtulink"), second("rtulink");
  second.control->SetProperty("CommPort", std::int16_t{2});
  second.control->SetProperty("Address", std::int32_t{17});
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({&first, &second});
  EXPECT_EQ(page.Text("txtCommPort"), "1");
  EXPECT_EQ(page.Text("txtAddress"), "1");
  page.Type("txtCommPort", "3");
  ASSERT_TRUE(page.Apply().applied);
  EXPECT_EQ(first.Get("CommPort").ToInt32(), 3);
  EXPECT_EQ(second.Get("CommPort").ToInt32(), 2);
  EXPECT_EQ(second.Get("Address").ToInt32(), 17);
}

TEST(PropertyPage1, WithNothingSelectedThereIsNothingToShowOrApply) {
  PropertyPage page = PropertyPage1();
  page.SelectionChanged({});
  EXPECT_EQ(page.Shown(), nullptr);
  EXPECT_EQ(page.Text("txtCommPort"), "");
  page.Type("txtCommPort", "3");
  EXPECT_TRUE(page.Apply().applied);
}

TEST(PropertyPage2, ShowsDfLinksFieldsAndAppliesThemAsTheirTypes) {
  Placed df("DfLink");
  PropertyPage page = PropertyPage2();
  page.SelectionChanged({&df});
  EXPECT_EQ(page.Text("txtAddress"), "1");
  EXPECT_EQ(page.Text("txtCommPort"), "1");
  EXPECT_EQ(page.Text("chkDTREnable"), "True");
  EXPECT_EQ(page.Text("chkEnabled"), "False");
  EXPECT_EQ(page.Text("cboMode"), "2");
  EXPECT_EQ(page.Text("cboPLCType"), "1");
  EXPECT_EQ(page.Text("txtSettings"), "9600,n,8,1");
  EXPECT_EQ(page.Text("chkBusy"), "False");
  auto mode = page.FieldOf("cboMode");
  ASSERT_TRUE(mode);
  std::vector<std::string> labels;
  for (const EnumInfo::Value& v : page.Choices(*mode)) labels.push_back(v.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"EnBCC", "EnCRC"}));

  page.Type("txtAddress", "5");
  page.Type("chkDTREnable", "False");
  page.Type("chkEnabled", "True");
  page.Type("cboMode", "1");
  page.Type("cboPLCType", "3");
  page.Type("txtSettings", "19200,n,8,1");
  ASSERT_TRUE(page.Apply().applied);
  // A number typed for the variant Address is kept as a number, as a document restores it.
  EXPECT_EQ(df.Get("Address").Type(), VarType::Int32);
  EXPECT_EQ(df.Get("Address").ToInt32(), 5);
  EXPECT_FALSE(df.Get("DTREnable").ToBool());
  EXPECT_TRUE(df.Get("Enabled").ToBool());
  EXPECT_EQ(df.Get("Mode").ToInt32(), 1);
  EXPECT_EQ(df.Get("PLCType").ToInt32(), 3);
  EXPECT_EQ(df.Get("Settings").ToString(), "19200,n,8,1");
}

TEST(PropertyPage2, ScanAndBusyFieldsShowTheControlsValuesAndOnlyMarkThePageChanged) {
  Placed df("DfLink");
  df.control->SetProperty("ScanReadIOTimerInterval", Variant(std::int32_t{750}));
  PropertyPage page = PropertyPage2();
  page.SelectionChanged({&df});
  EXPECT_EQ(page.Text("txtScanInterval"), "750");
  EXPECT_EQ(page.Text("chkScanEnable"), "False");
  EXPECT_EQ(page.Text("chkBusy"), "False");
  page.Type("txtScanInterval", "250");
  page.Type("chkScanEnable", "True");
  page.Type("chkBusy", "True");
  EXPECT_TRUE(page.Changed());
  df.host.ClearChangedKeys();
  ASSERT_TRUE(page.Apply().applied);
  EXPECT_FALSE(df.Get("CommBusy").ToBool()) << "the busy box does not set CommBusy";
  EXPECT_EQ(df.Get("ScanReadIOTimerInterval").ToInt32(), 750);
  EXPECT_FALSE(df.Get("ScanReadEnable").ToBool());
  // Applied, the page shows what the control has: the edits it did not take are not left
  // standing as if they had been.
  EXPECT_EQ(page.Text("txtScanInterval"), "750");
  EXPECT_EQ(page.Text("chkScanEnable"), "False");
  EXPECT_EQ(page.Text("chkBusy"), "False");
  EXPECT_FALSE(page.Changed());
}

TEST(PropertyPage2, AnAddressThatIsNoNumberIsRefusedWithItsError) {
  Placed df("DfLink");
  PropertyPage page = PropertyPage2();
  page.SelectionChanged({&df});
  page.Type("txtAddress", "plc");
  ApplyOutcome outcome = page.Apply();
  EXPECT_FALSE(outcome.applied);
  EXPECT_EQ(outcome.box, "txtAddress");
  EXPECT_EQ(outcome.error, err::TypeMismatch);
}

TEST(PropertyPages, OnlyRtuLinkAndDfLinkHaveOne) {
  EXPECT_EQ(PropertyPageFor("RtuLink")->Name(), "PropertyPage1");
  EXPECT_EQ(PropertyPageFor("dflink")->Name(), "PropertyPage2");
  EXPECT_FALSE(PropertyPageFor("SeqLink"));
  EXPECT_FALSE(PropertyPageFor("UdpLink"));
}

}  // namespace
}  // namespace plc::screens

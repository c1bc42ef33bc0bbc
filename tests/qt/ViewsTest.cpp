// The Qt views of the screens, driven as a person drives them: typing into a property page
// and applying it, a refusal shown on the page, Cancel changing nothing; the CCM window's Do
// Request against a simulated module.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "ecom/HeiPasApi.h"
#include "qt/CcmRequestDialog.h"
#include "qt/PropertySheet.h"
#include "qt/QtEventLoop.h"
#include "tests/support/EcomModules.h"
#include "tests/support/PlacedControl.h"
#include "tools/plcsim/EcomModuleSim.h"

namespace plc::qt {
namespace {

using Placed = test::PlacedControl;

void TypeInto(QLineEdit* box, const QString& text) {
  ASSERT_NE(box, nullptr);
  box->selectAll();
  QTest::keyClicks(box, text);
}

TEST(PropertySheet, TypingIntoThePageAndApplyingChangesTheProperty) {
  QtEventLoop loop;
  Placed rtu("rtulink");
  PropertySheet sheet(screens::PropertyPage1(), *rtu.control);
  sheet.show();
  auto* commPort = sheet.findChild<QLineEdit*>(QStringLiteral("txtCommPort"));
  ASSERT_NE(commPort, nullptr);
  EXPECT_EQ(commPort->text(), QStringLiteral("1"));
  EXPECT_EQ(sheet.findChild<QLineEdit*>(QStringLiteral("txtNumOfWriteRetries"))->text(), QStringLiteral("2"));
  QPushButton* apply = sheet.buttons()->button(QDialogButtonBox::Apply);
  EXPECT_FALSE(apply->isEnabled());
  TypeInto(commPort, QStringLiteral("3"));
  EXPECT_TRUE(apply->isEnabled()) << "typing marks the page changed";
  EXPECT_EQ(rtu.control->GetProperty("CommPort").ToInt32(), 1) << "nothing is written before Apply";
  QTest::mouseClick(apply, ::Qt::LeftButton);
  EXPECT_EQ(rtu.control->GetProperty("CommPort").ToInt32(), 3);
  EXPECT_FALSE(apply->isEnabled());
  // A text the property rounds: the box then shows the value kept.
  auto* retries = sheet.findChild<QLineEdit*>(QStringLiteral("txtNumOfReadRetries"));
  TypeInto(retries, QStringLiteral("4.6"));
  QTest::mouseClick(apply, ::Qt::LeftButton);
  EXPECT_EQ(rtu.control->GetProperty("NumOfReadRetries").ToInt32(), 5);
  EXPECT_EQ(retries->text(), QStringLiteral("5"));
}

TEST(PropertySheet, ARefusedTextIsShownOnThePageWhichStaysOpen) {
  QtEventLoop loop;
  Placed rtu("rtulink");
  PropertySheet sheet(screens::PropertyPage1(), *rtu.control);
  sheet.show();
  TypeInto(sheet.findChild<QLineEdit*>(QStringLiteral("txtAddress")), QStringLiteral("12"));
  TypeInto(sheet.findChild<QLineEdit*>(QStringLiteral("txtSettings")), QStringLiteral("9600,q,8,1"));
  QTest::mouseClick(sheet.buttons()->button(QDialogButtonBox::Ok), ::Qt::LeftButton);
  EXPECT_TRUE(sheet.isVisible()) << "OK with a refusal keeps the dialog";
  QLabel* error = sheet.pageWidget()->errorLabel();
  EXPECT_FALSE(error->isHidden());
  EXPECT_TRUE(error->text().startsWith(QStringLiteral("Settings: "))) << error->text().toStdString();
  EXPECT_EQ(rtu.control->GetProperty("Address").ToInt32(), 12) << "set before the refusal, kept";
}

TEST(PropertySheet, CancelChangesNothing) {
  QtEventLoop loop;
  Placed rtu("rtulink");
  PropertySheet sheet(screens::PropertyPage1(), *rtu.control);
  sheet.show();
  TypeInto(sheet.findChild<QLineEdit*>(QStringLiteral("txtCommPort")), QStringLiteral("7"));
  QTest::mouseClick(sheet.buttons()->button(QDialogButtonBox::Cancel), ::Qt::LeftButton);
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(rtu.control->GetProperty("CommPort").ToInt32(), 1);
}

TEST(PropertySheet, DfLinksPageSetsItsChoicesAndChecks) {
  QtEventLoop loop;
  Placed df("DfLink");
  PropertySheet sheet(screens::PropertyPage2(), *df.control);
  sheet.show();
  auto* mode = sheet.findChild<QComboBox*>(QStringLiteral("cboMode"));
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->currentText(), QStringLiteral("EnCRC (2)"));
  mode->setCurrentIndex(mode->findData(QStringLiteral("1")));
  Q_EMIT mode->activated(mode->currentIndex());
  auto* dtr = sheet.findChild<QCheckBox*>(QStringLiteral("chkDTREnable"));
  ASSERT_NE(dtr, nullptr);
  EXPECT_TRUE(dtr->isChecked());
  QTest::mouseClick(dtr, ::Qt::LeftButton);
  QTest::mouseClick(sheet.buttons()->button(QDialogButtonBox::Ok), ::Qt::LeftButton);
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(df.control->GetProperty("Mode").ToInt32(), 1);
  EXPECT_FALSE(df.control->GetProperty("DTREnable").ToBool());
}

class CcmDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<sim::EcomModuleSim>(std::vector<sim::EcomModuleConfig>{{4, "PUMP", 0}});
    test::ServeEcomModules(*sim_);
  }
  void TearDown() override { unsetenv("HEI_PAS_MODULES"); }
  std::unique_ptr<sim::EcomModuleSim> sim_;
};

TEST_F(CcmDialog, DoRequestReadsTheModuleWhileTheWindowStaysLive) {
  QtEventLoop loop;
  sim_->SetWord(4, 0x10, 0xBEEF);
  CcmRequestDialog dialog;
  dialog.show();
  QTest::mouseClick(dialog.findChild<QRadioButton*>(QStringLiteral("optName")), ::Qt::LeftButton);
  TypeInto(dialog.findChild<QLineEdit*>(QStringLiteral("txtName")), QStringLiteral("PUMP"));
  TypeInto(dialog.findChild<QLineEdit*>(QStringLiteral("txtAddress")), QStringLiteral("0010"));
  QSignalSpy done(&dialog, &CcmRequestDialog::requestDone);
  QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmdDoRequest")), ::Qt::LeftButton);
  ASSERT_TRUE(done.wait(5000));
  EXPECT_TRUE(done.at(0).at(0).toBool());
  const QString results = dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtResults"))->toPlainText();
  EXPECT_TRUE(results.contains(QStringLiteral("Found 1 Device(s)"))) << results.toStdString();
  EXPECT_TRUE(results.contains(QStringLiteral("Results--> EF BE"))) << results.toStdString();
}

TEST_F(CcmDialog, AWrongFieldIsSaidAndNothingSent) {
  QtEventLoop loop;
  CcmRequestDialog dialog;
  dialog.show();
  TypeInto(dialog.findChild<QLineEdit*>(QStringLiteral("txtSize")), QStringLiteral("300"));
  QSignalSpy done(&dialog, &CcmRequestDialog::requestDone);
  QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmdDoRequest")), ::Qt::LeftButton);
  ASSERT_EQ(done.count(), 1) << "refused at once";
  EXPECT_FALSE(done.at(0).at(0).toBool());
  EXPECT_EQ(dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtResults"))->toPlainText().trimmed(),
            QStringLiteral("Size '300': bytes, a whole number from 1 to 256"));
  EXPECT_EQ(sim_->Answered(), 0);
}

TEST_F(CcmDialog, WhatTheRequestThrowsOnItsThreadIsShownAndTheWindowGoesOn) {
  QtEventLoop loop;
  int loads = 0;
  CcmRequestDialog dialog([&loads](std::string& why) -> std::unique_ptr<ecom::HeiPasApi> {
    if (++loads == 1) throw std::runtime_error("the library could not be bound");
    why = "no library this time";
    return nullptr;
  });
  dialog.show();
  TypeInto(dialog.findChild<QLineEdit*>(QStringLiteral("txtModuleID")), QStringLiteral("4"));
  QSignalSpy done(&dialog, &CcmRequestDialog::requestDone);
  auto* doRequest = dialog.findChild<QPushButton*>(QStringLiteral("cmdDoRequest"));
  QTest::mouseClick(doRequest, ::Qt::LeftButton);
  ASSERT_TRUE(done.wait(5000));
  EXPECT_FALSE(done.at(0).at(0).toBool());
  auto* results = dialog.findChild<QPlainTextEdit*>(QStringLiteral("txtResults"));
  EXPECT_EQ(results->toPlainText().trimmed(), QStringLiteral("Do Request stopped: the library could not be bound"));
  EXPECT_TRUE(doRequest->isEnabled());
  // The next request runs as ever.
  QTest::mouseClick(doRequest, ::Qt::LeftButton);
  ASSERT_TRUE(done.wait(5000));
  EXPECT_EQ(loads, 2);
  EXPECT_TRUE(results->toPlainText().endsWith(QStringLiteral("Unable to Initialize the driver: rc= -1 (no library this time)\n")))
      << results->toPlainText().toStdString();
}

}  // namespace
}  // namespace plc::qt

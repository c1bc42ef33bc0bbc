// The generated QObject wrappers: properties through Qt's meta-object with their NOTIFY
// signals, enumerations as Q_ENUMs, methods with their by-reference arguments, events as
// signals with their arguments, and ShowAboutBox through the Qt host.
#include "qt/ControlObject.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "base/ResultCodes.h"
#include "platform/PseudoTerminalLink.h"
#include "qt/AboutDialog.h"
#include "qt/ControlObjects.h"
#include "qt/DfLinkObject.h"
#include "qt/QtEventLoop.h"
#include "qt/QtVariant.h"
#include "qt/RtuLinkObject.h"
#include "qt/SeqLinkObject.h"
#include "qt/UdpLinkObject.h"
#include "plclink/Version.h"
#include "tests/support/PlclinkCommand.h"
#include "tests/support/Pty.h"

namespace plc::qt {
namespace {

constexpr std::int16_t kCommPort = 43;

TEST(ControlObject, PropertiesAreQtPropertiesThatNotifyTheirChange) {
  QtEventLoop loop;
  RtuLinkObject rtu;
  const QMetaObject* meta = rtu.metaObject();
  QMetaProperty commPort = meta->property(meta->indexOfProperty("CommPort"));
  ASSERT_TRUE(commPort.isValid());
  EXPECT_TRUE(commPort.isWritable());
  EXPECT_EQ(QString::fromLatin1(commPort.notifySignal().name()), QStringLiteral("CommPortChanged"));
  QMetaProperty cd = meta->property(meta->indexOfProperty("CDHolding"));
  EXPECT_FALSE(cd.isWritable()) << "read-only in the member table, read-only here";

  QSignalSpy changed(&rtu, &RtuLinkObject::CommPortChanged);
  EXPECT_TRUE(rtu.setProperty("CommPort", 3));
  EXPECT_EQ(rtu.control().GetProperty("CommPort").ToInt32(), 3);
  EXPECT_EQ(rtu.CommPort(), 3);
  EXPECT_EQ(changed.count(), 1);
  // A change made past the wrapper is told by the control's own notification.
  rtu.control().SetProperty("CommPort", std::int16_t{4});
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(rtu.property("CommPort").toInt(), 4);
}

// A NOTIFY signal says the value changed. A set that leaves it as it was (the value it had,
// CommBusy = True, which changes nothing) emits none: two controls kept in step through their
// signals, as Qt programs bind properties, went back and forth without end, each set of the
// same value notifying again, until the stack ran out.
TEST(ControlObject, ASetThatChangesNothingNotifiesNothing) {
  QtEventLoop loop;
  RtuLinkObject a, b;
  int mirrored = 0;
  QObject::connect(&a, &RtuLinkObject::SettingsChanged, [&] {
    if (++mirrored < 50) b.setSettings(a.Settings());
  });
  QObject::connect(&b, &RtuLinkObject::SettingsChanged, [&] {
    if (++mirrored < 50) a.setSettings(b.Settings());
  });
  a.setSettings(QStringLiteral("19200,e,8,1"));
  EXPECT_EQ(b.Settings(), QStringLiteral("19200,e,8,1"));
  EXPECT_LE(mirrored, 2) << "the pair kept notifying each other";

  QSignalSpy busy(&a, &RtuLinkObject::CommBusyChanged);
  EXPECT_TRUE(a.set(QStringLiteral("CommBusy"), true));
  EXPECT_FALSE(a.CommBusy().toBool());
  EXPECT_EQ(busy.count(), 0) << "CommBusy = True changes nothing";
  QSignalSpy port(&a, &RtuLinkObject::CommPortChanged);
  a.control().SetProperty("CommPort", Variant(a.control().GetProperty("CommPort")));
  EXPECT_EQ(port.count(), 0) << "the control set its own value again";
  a.setCommPort(a.CommPort() + 1);
  EXPECT_EQ(port.count(), 1);
}

TEST(ControlObject, EnumerationsAreQEnumsAndTypedPropertiesTakeThem) {
  QtEventLoop loop;
  RtuLinkObject rtu;
  const QMetaObject* meta = rtu.metaObject();
  QMetaEnum mode = meta->enumerator(meta->indexOfEnumerator("EnModBusMode"));
  ASSERT_TRUE(mode.isValid());
  EXPECT_EQ(mode.keyToValue("SlaveRtu"), 3);
  QSignalSpy changed(&rtu, &RtuLinkObject::ModBusModeChanged);
  rtu.setModBusMode(RtuLinkObject::EnModBusMode::Ascii);
  EXPECT_EQ(rtu.control().GetProperty("ModBusMode").ToInt32(), 2);
  EXPECT_EQ(rtu.ModBusMode(), RtuLinkObject::EnModBusMode::Ascii);
  EXPECT_EQ(changed.count(), 1);
  EXPECT_EQ(meta->property(meta->indexOfProperty("ModBusMode")).enumerator().name(), QByteArray("EnModBusMode"));
}

TEST(ControlObject, ARefusedValueThrowsFromTheTypedSetterAndIsAnErrorSignalWhenLateBound) {
  QtEventLoop loop;
  DfLinkObject df;
  EXPECT_THROW(df.setSettings(QStringLiteral("9600,x,8,1")), RuntimeError);
  QSignalSpy errors(&df, &ControlObject::error);
  EXPECT_FALSE(df.set(QStringLiteral("CommPort"), QStringLiteral("three")));
  ASSERT_EQ(errors.count(), 1);
  EXPECT_EQ(errors.at(0).at(0).toInt(), 13);
  EXPECT_FALSE(df.call(QStringLiteral("NoSuchMethod")).isValid());
  EXPECT_EQ(errors.count(), 2);
}

TEST(ControlObject, EventsAreSignalsWithTheirArguments) {
  QtEventLoop loop;
  SeqLinkObject seq;
  QSignalSpy complete(&seq, &SeqLinkObject::CommComplete);
  QSignalSpy any(&seq, &ControlObject::controlEvent);
  seq.EventComComplete();
  EXPECT_EQ(complete.count(), 1);
  ASSERT_EQ(any.count(), 1);
  EXPECT_EQ(any.at(0).at(0).toString(), QStringLiteral("CommComplete"));
}

TEST(ControlObject, AWrappedControlMustBeOfItsClass) {
  QtEventLoop loop;
  PluginControl seq = PluginControl::Load("seqlink");
  EXPECT_THROW(RtuLinkObject{*seq}, std::invalid_argument);
  std::unique_ptr<ControlObject> any = WrapControl(*seq);
  EXPECT_NE(qobject_cast<SeqLinkObject*>(any.get()), nullptr);
  EXPECT_EQ(any->className(), QStringLiteral("SeqLink"));
}

TEST(ControlObject, RtuLinkReadsWaitingAndRaisesCommCompleteExForAReadThatDoesNotWait) {
  QtEventLoop loop;
  PseudoTerminalLink line;
  test::PeerProcess slave(test::PlclinkCommand({"rtulink", "--port", line.PathB(), "--settings", "19200,n,8,1",
                                                "serve", "--set", "40001=101", "--set", "40002=202"}));
  test::ScopedCommPort port(kCommPort, line.PathA());
  RtuLinkObject rtu;
  rtu.setCommPort(kCommPort);
  rtu.setSettings(QStringLiteral("19200,n,8,1"));
  rtu.setPortOpen(true);

  QVariant address = QStringLiteral("40001"), values = QVariantList{0, 0}, size = 2;
  ASSERT_EQ(rtu.ReadPLC(address, values, &size), ResultOk) << rtu.failureCause().toStdString();
  EXPECT_EQ(values.toList(), (QVariantList{101.0, 202.0}));

  QSignalSpy complete(&rtu, &RtuLinkObject::CommCompleteEx);
  QVariant second = QStringLiteral("40002"), unused = QVariantList{0};
  ASSERT_EQ(rtu.ReadPLCNW(second, unused), ResultOk);
  ASSERT_TRUE(complete.wait(5000));
  const QList<QVariant> args = complete.takeFirst();
  ASSERT_EQ(args.size(), 5);
  // MData is the control's whole buffer as a list from its lower bound 0: the first value is
  // at 1, where the classic MData(1) has it.
  EXPECT_EQ(args[0].toList().value(1).toInt(), 202);
  EXPECT_EQ(args[1].toInt(), 40002);
  EXPECT_EQ(args[2].toInt(), 1);
  EXPECT_EQ(args[4].toInt(), ResultOk);
  rtu.setPortOpen(false);
}

// A host that deletes the wrapper, and with it the control, from a slot of the event (a form
// closed from its handler), as Qt lets a slot delete its sender: the wrapper raises nothing
// more of that event and the program goes on. It crashed on the wrapper's freed memory once
// controlEvent's slot had deleted it.
TEST(ControlObject, AHostMayDeleteTheWrapperFromASlotOfItsEvent) {
  QtEventLoop loop;
  PseudoTerminalLink line;
  test::PeerProcess slave(test::PlclinkCommand({"rtulink", "--port", line.PathB(), "--settings", "19200,n,8,1",
                                                "serve", "--set", "40001=101"}));
  test::ScopedCommPort port(kCommPort, line.PathA());
  for (const bool fromControlEvent : {true, false}) {
    auto rtu = std::make_unique<RtuLinkObject>();
    rtu->setCommPort(kCommPort);
    rtu->setSettings(QStringLiteral("19200,n,8,1"));
    rtu->setPortOpen(true);
    int deleted = 0, typedAfter = 0;
    auto unload = [&] {
      ++deleted;
      rtu.reset();
    };
    if (fromControlEvent) {
      QObject::connect(rtu.get(), &ControlObject::controlEvent, unload);
      QObject::connect(rtu.get(), &RtuLinkObject::CommCompleteEx, [&] { ++typedAfter; });
    } else {
      QObject::connect(rtu.get(), &RtuLinkObject::CommCompleteEx, unload);
    }
    QVariant address = QStringLiteral("40001"), unused = QVariantList{0};
    ASSERT_EQ(rtu->ReadPLCNW(address, unused), ResultOk) << rtu->failureCause().toStdString();
    loop.WaitUntil([&] { return rtu == nullptr; }, loop.Now() + 5'000'000);
    ASSERT_EQ(deleted, 1) << "the read never completed";
    bool ticked = false;
    QTimer::singleShot(20, [&] { ticked = true; });
    loop.WaitUntil([&] { return ticked; }, loop.Now() + 2'000'000);
    EXPECT_TRUE(ticked) << "the loop went on";
    EXPECT_EQ(typedAfter, 0) << "a deleted wrapper raised its event's own signal";
  }
}

TEST(ControlObject, ShowAboutBoxShowsTheAboutDialogModallyThroughTheQtHost) {
  QtEventLoop loop;
  DfLinkObject df;
  QSignalSpy texts(&df.host(), &QtComponentHost::dialogTexts);
  QString title, version;
  QTimer::singleShot(50, [&] {
    auto* dialog = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    title = dialog->windowTitle();
    version = dialog->versionLabel()->text();
    QTest::mouseClick(dialog->okButton(), ::Qt::LeftButton);
  });
  df.ShowAboutBox();  // returns once OK closed it
  EXPECT_EQ(title, QStringLiteral("About DfLink"));
  EXPECT_EQ(version, QStringLiteral("Version " PLCLINK_VERSION));
  ASSERT_EQ(texts.count(), 1);
  EXPECT_EQ(texts.at(0).at(0).toStringList().value(0), QStringLiteral("About DfLink"));
}

TEST(ControlObject, AHostWithoutADisplayGetsTheAboutTextsAndCarriesOn) {
  test::RunResult r = test::RunProgram(
      test::PeerCommand{PLC_HEADLESS_HOST, {}, "build the qt_headless_host target"}, std::chrono::seconds(20));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("About udplink|Version|UdpLink"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("still running"), std::string::npos) << r.out;
}

// A QByteArray is bytes, not text: a host passing one (SendToComm, a raw request) must have
// every byte reach the control as it is, also those that are no UTF-8.
TEST(QtVariant, AByteArrayKeepsEveryByte) {
  const QByteArray raw("\x01\x83\xff\x00\xc3", 5);
  const Variant v = FromQVariant(QVariant(raw));
  ASSERT_TRUE(v.IsString());
  EXPECT_EQ(v.ToString(), std::string(raw.constData(), static_cast<std::size_t>(raw.size())));
}

// Raw pass-through carries bytes, not text: a Modbus or DF1 frame sent with SendToComm and its
// reply, in CommEventModem's MData and from ReceiveComm, reach the host byte for byte, also
// those that are no UTF-8 (a CRC byte 0x83, 0xF1). They came back as text with U+FFFD in their
// place, and the host's own buffer, handed back after SendToComm, was changed the same way, so
// sending it again sent other bytes. Text stays a QString.
TEST(ControlObject, RawBytesThroughThePortStayBytes) {
  QtEventLoop loop;
  PseudoTerminalLink line;
  test::ScopedCommPort portA(kCommPort, line.PathA());
  test::ScopedCommPort portB(kCommPort + 1, line.PathB());
  RtuLinkObject sender, receiver;
  for (auto [rtu, port] : {std::pair{&sender, kCommPort}, std::pair{&receiver, std::int16_t(kCommPort + 1)}}) {
    rtu->setCommPort(port);
    rtu->setSettings(QStringLiteral("19200,n,8,1"));
    rtu->setPortOpen(true);
  }
  const QByteArray frame("\x01\x83\x02\xc0\xf1", 5);
  // Bytes wait in the port for ReceiveComm.
  QVariant buffer = frame;
  sender.SendToComm(buffer);
  EXPECT_EQ(buffer.toByteArray().toHex(' '), frame.toHex(' ')) << "the host's buffer after SendToComm";
  QByteArray received;
  for (int i = 0; i < 100 && received.size() < frame.size(); ++i) {
    QTest::qWait(10);
    received += receiver.ReceiveComm().toByteArray();
  }
  EXPECT_EQ(received.toHex(' '), frame.toHex(' ')) << "ReceiveComm";

  // In raw mode they go to CommEventModem.
  QVariant nothing = QByteArray();
  receiver.SendToComm(nothing);
  QSignalSpy modem(&receiver, &RtuLinkObject::CommEventModem);
  sender.SendToComm(buffer);
  QByteArray arrived;
  for (int i = 0; i < 50 && arrived.size() < frame.size(); ++i) {
    if (modem.isEmpty() && !modem.wait(2000)) break;
    arrived += modem.takeFirst().at(1).toList().value(0).toByteArray();
  }
  EXPECT_EQ(arrived.toHex(' '), frame.toHex(' ')) << "CommEventModem's MData";
  EXPECT_EQ(ToQVariant(Variant(std::string("ok \xc2\xb0" "C"))), QVariant(QStringLiteral("ok \u00b0C")));
}

// A typed Qt list (QList<short>, QList<int>, QList<double>) is an array as a QVariantList is,
// from index 1, each element with its value and sign; it was none and came through as text.
TEST(QtVariant, TypedListsAreArraysOfTheirValues) {
  const Variant shorts = FromQVariant(QVariant::fromValue(QList<short>{1, -2, 32767}));
  ASSERT_TRUE(shorts.IsArray());
  ASSERT_EQ(shorts.Array().Lower(), 1);
  ASSERT_EQ(shorts.Array().Upper(), 3);
  EXPECT_EQ(shorts.Array().Get(1).ToInt32(), 1);
  EXPECT_EQ(shorts.Array().Get(2).ToInt32(), -2);
  EXPECT_EQ(shorts.Array().Get(3).ToInt32(), 32767);
  const Variant doubles = FromQVariant(QVariant::fromValue(QList<double>{-1.5, 2.25}));
  ASSERT_TRUE(doubles.IsArray());
  EXPECT_EQ(doubles.Array().Get(1).ToDouble(), -1.5);
  EXPECT_EQ(doubles.Array().Get(2).ToDouble(), 2.25);
  const Variant ints = FromQVariant(QVariant::fromValue(QList<int>{-70000}));
  ASSERT_TRUE(ints.IsArray());
  EXPECT_EQ(ints.Array().Get(1).ToInt32(), -70000);
}

// A by-reference argument comes back as the type the host gave: a QList<int> or QList<double>
// handed to a method that fills it is read back with value<QList<int>>(), which saw an empty
// list, every value the control wrote gone, once it came back as a QVariantList.
TEST(ControlObject, ATypedListComesBackAsTheTypeTheHostGave) {
  QtEventLoop loop;
  RtuLinkObject rtu;
  QVariant words = QVariant::fromValue(QList<int>{0, 0, 0}), value = 0x0001FFFF, start = 2;
  rtu.LongToUInteger(value, words, start);
  ASSERT_EQ(words.metaType(), QMetaType::fromType<QList<int>>());
  const QList<int> got = words.value<QList<int>>();
  ASSERT_EQ(got.size(), 3);
  EXPECT_EQ(got[0], 0) << "element 1 untouched";
  EXPECT_EQ(got[1] * 65536 + got[2], 0x0001FFFF) << got[1] << " " << got[2];
  // The same bytes as into a QVariantList, in the host's QList<double>.
  QVariant bytes = QVariant::fromValue(QList<double>{0, 0, 0, 0, 0}), plain = QVariantList{0, 0, 0, 0, 0};
  QVariant from = 1, v = -2;
  rtu.LongToByte(v, bytes, from);
  rtu.LongToByte(v, plain, from);
  ASSERT_EQ(bytes.metaType(), QMetaType::fromType<QList<double>>());
  QList<double> expected;
  for (const QVariant& b : plain.toList()) expected.push_back(b.toDouble());
  EXPECT_EQ(bytes.value<QList<double>>(), expected);
  EXPECT_TRUE(expected.contains(254.0)) << "-2 written";
}

}  // namespace
}  // namespace plc::qt

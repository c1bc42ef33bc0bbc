// plcpanel's window against simulated PLCs: the table fills with live values, an edited cell
// is written to the PLC, a failure's text is shown, and the menus reach the property page.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include "platform/PseudoTerminalLink.h"
#include "qt/PropertySheet.h"
#include "qt/QtEventLoop.h"
#include "tests/support/PeerProcess.h"
#include "tests/support/Pty.h"
#include "tools/plcpanel/DisplayCheck.h"
#include "tools/plcpanel/PanelWindow.h"
#include "tools/plcsim/Df1Simulator.h"
#include "tools/plcsim/DirectNetSimulator.h"

namespace plc::plcpanel {
namespace {

QString Cell(PanelWindow& w, int row, int column) {
  return w.model().data(w.model().index(row, column), ::Qt::DisplayRole).toString();
}

// Runs act on the property sheet once it is shown modally (the panel may first wait for the
// line), looking every 20 ms for 10 s at most.
void WhenSheetShown(std::function<void(qt::PropertySheet&)> act) {
  auto* look = new QTimer;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  QObject::connect(look, &QTimer::timeout, [look, deadline, act = std::move(act)] {
    auto* sheet = qobject_cast<qt::PropertySheet*>(QApplication::activeModalWidget());
    if (!sheet && std::chrono::steady_clock::now() < deadline) return;
    look->stop();
    look->deleteLater();
    if (sheet) act(*sheet);
  });
  look->start(20);
}

// A panel on DfLink reading N7:0 (which holds 5) from a simulated PLC.
struct DfLinkPanel {
  qt::QtEventLoop loop;
  PseudoTerminalLink line;
  sim::Df1Simulator plc{sim::Df1SimOptions{line.PathB(), false, 19200}};
  bool seeded = (plc.Plc().Table().SetWords(7, 0, {5}), true);  // before the window polls
  PanelWindow window{
      ParsePanelOptions({"DfLink", "-p", line.PathA(), "--settings", "19200,n,8,1", "--node", "0", "N7:0"})};

  // Shows the window; whether the row shows the 5 within 5 s.
  bool ShowsFirstValue() {
    window.show();
    return QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Value) == QStringLiteral("5"); }, 5000);
  }
};

TEST(Panel, ReadsLiveValuesWritesAnEditedCellAndShowsFailures) {
  qt::QtEventLoop loop;
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 12);
  station.SetWord(1, 0x0401, 345);
  PanelOptions options = ParsePanelOptions(
      {"seqlink", "--port", line.PathA(), "--settings", "9600,n,8,1", "--interval", "100", "V,2000", "V,2001"});
  PanelWindow window(options);
  window.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(window, 1, LiveTableModel::Value) == QStringLiteral("345"); }, 5000))
      << window.statusLabel()->text().toStdString();
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Value), QStringLiteral("12"));
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Status), QStringLiteral("ok"));

  // The person types a new value into the Value cell.
  QTableView* view = window.view();
  view->setCurrentIndex(window.model().index(0, LiveTableModel::Value));
  view->edit(view->currentIndex());
  auto* editor = view->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("4660"));
  QTest::keyClick(editor, ::Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return station.Word(1, 0x0400) == 4660; }, 5000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Value) == QStringLiteral("4660"); }, 5000));

  // A station that stops answering: each row says why, and the status line the latest.
  station.SetFault(sim::StationFault::NoAnswer);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Cell(window, 1, LiveTableModel::Status).isEmpty() &&
                                           Cell(window, 1, LiveTableModel::Status) != QStringLiteral("ok") &&
                                           Cell(window, 1, LiveTableModel::Status) != QStringLiteral("reading..."); },
                              8000));
  EXPECT_TRUE(window.statusLabel()->text().startsWith(QStringLiteral("V,200")))
      << window.statusLabel()->text().toStdString();
  station.SetFault(sim::StationFault::None);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 1, LiveTableModel::Status) == QStringLiteral("ok"); }, 8000));

  // An empty address is refused before any view hears of a row.
  auto* entry = window.findChild<QLineEdit*>(QStringLiteral("txtAddress"));
  QSignalSpy inserting(&window.model(), &QAbstractItemModel::rowsAboutToBeInserted);
  QTest::keyClicks(entry, QStringLiteral("   "));
  QTest::keyClick(entry, ::Qt::Key_Return);
  EXPECT_EQ(window.model().rowCount(), 2);
  EXPECT_EQ(inserting.count(), 0);
  EXPECT_EQ(window.statusLabel()->text(), QStringLiteral("an address is needed"));
  entry->clear();
  // An address typed into the entry box becomes a row of its own.
  QTest::keyClicks(entry, QStringLiteral("V,2001"));
  QTest::keyClick(entry, ::Qt::Key_Return);
  EXPECT_EQ(window.model().rowCount(), 3);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 2, LiveTableModel::Value) == QStringLiteral("345"); }, 5000));
}

TEST(Panel, ThePropertyPageFromItsMenuEditsTheControlWithItsPortClosedAndReopensIt) {
  DfLinkPanel panel;
  ASSERT_TRUE(panel.ShowsFirstValue()) << panel.window.statusLabel()->text().toStdString();
  PanelWindow& window = panel.window;
  sim::Df1Simulator& plc = panel.plc;
  bool shown = false;
  WhenSheetShown([&](qt::PropertySheet& sheet) {
    shown = true;
    EXPECT_FALSE(window.control().GetProperty("PortOpen").ToBool()) << "closed while the page edits";
    auto* plcType = sheet.findChild<QComboBox*>(QStringLiteral("cboPLCType"));
    plcType->setCurrentIndex(plcType->findData(QStringLiteral("2")));
    Q_EMIT plcType->activated(plcType->currentIndex());
    QTest::mouseClick(sheet.buttons()->button(QDialogButtonBox::Ok), ::Qt::LeftButton);
  });
  EXPECT_TRUE(window.showProperties());
  EXPECT_TRUE(shown);
  EXPECT_EQ(window.control().GetProperty("PLCType").ToInt32(), 2);
  EXPECT_TRUE(window.control().GetProperty("PortOpen").ToBool());
  plc.Plc().Table().SetWords(7, 0, {6});
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Value) == QStringLiteral("6"); }, 5000));
}

// A page applied with a port that then cannot open: the reason stays said as a failure.
TEST(Panel, APortThePageMadeUnopenableIsSaidAsAFailureAfterApply) {
  DfLinkPanel panel;
  ASSERT_TRUE(panel.ShowsFirstValue()) << panel.window.statusLabel()->text().toStdString();
  PanelWindow& window = panel.window;
  const QString normal = window.statusLabel()->styleSheet();
  WhenSheetShown([&](qt::PropertySheet& sheet) {
    auto* commPort = sheet.findChild<QLineEdit*>(QStringLiteral("txtCommPort"));
    commPort->selectAll();
    QTest::keyClicks(commPort, QStringLiteral("250"));  // a port with no device behind it
    QTest::mouseClick(sheet.buttons()->button(QDialogButtonBox::Ok), ::Qt::LeftButton);
  });
  EXPECT_TRUE(window.showProperties());
  ASSERT_FALSE(window.control().GetProperty("PortOpen").ToBool());
  const QString status = window.statusLabel()->text();
  EXPECT_TRUE(status.contains(QStringLiteral("cannot open port 250"))) << status.toStdString();
  EXPECT_NE(window.statusLabel()->styleSheet(), normal) << "said as the failure it is: " << status.toStdString();
}

TEST(Panel, APortThatCannotOpenStaysSaidAndNothingIsPolledUntilOpenPortOpensIt) {
  qt::QtEventLoop loop;
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 12);
  // The port's path names nothing yet; later it names the line.
  char folder[] = "/tmp/plcpanel-port-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::filesystem::path port = std::filesystem::path(folder) / "ttyPLC";
  PanelOptions options =
      ParsePanelOptions({"seqlink", "--port", port.string(), "--settings", "9600,n,8,1", "--interval", "50", "V,2000"});
  PanelWindow window(options);
  window.show();
  const QString failure = window.statusLabel()->text();
  EXPECT_TRUE(failure.startsWith(QStringLiteral("cannot open port"))) << failure.toStdString();
  EXPECT_TRUE(failure.endsWith(QStringLiteral("(Control > Open port to try again)"))) << failure.toStdString();
  EXPECT_TRUE(window.polling()) << "polling as asked, once the port opens";
  EXPECT_FALSE(window.table().Running());
  QTest::qWait(300);
  EXPECT_EQ(window.statusLabel()->text(), failure) << "no sweep of a closed port says something over it";
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Status), QString());
  EXPECT_EQ(station.Enquiries(), 0);

  std::filesystem::create_symlink(line.PathA(), port);
  window.openPort();
  EXPECT_TRUE(window.table().Running());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Value) == QStringLiteral("12"); }, 5000))
      << window.statusLabel()->text().toStdString();
  window.closePort();
  EXPECT_FALSE(window.table().Running()) << "closing the port ends the sweeps";
  EXPECT_TRUE(window.polling());
  std::filesystem::remove_all(folder);
}

// With the port closed nothing is read: a row's last value is not shown as a good live one.
TEST(Panel, RowsOfAClosedPortDoNotSayOkUntilTheyAreReadAgain) {
  qt::QtEventLoop loop;
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 12);
  PanelOptions options =
      ParsePanelOptions({"seqlink", "--port", line.PathA(), "--settings", "9600,n,8,1", "--interval", "50", "V,2000"});
  PanelWindow window(options);
  window.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Status) == QStringLiteral("ok"); }, 5000))
      << window.statusLabel()->text().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.table().Idle(); }, 5000));
  window.closePort();
  station.SetWord(1, 0x0400, 13);
  QTest::qWait(200);
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Value), QStringLiteral("12")) << "the last value read stays in view";
  const QString status = Cell(window, 0, LiveTableModel::Status);
  EXPECT_NE(status, QStringLiteral("ok"));
  EXPECT_TRUE(status.contains(QStringLiteral("port is closed"))) << status.toStdString();
  EXPECT_TRUE(window.model().data(window.model().index(0, LiveTableModel::Status), ::Qt::ForegroundRole).isValid())
      << "said as a failure is";
  window.openPort();
  // Open again, the row holds the value read before the close until it is read again.
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Value), QStringLiteral("12"));
  EXPECT_NE(Cell(window, 0, LiveTableModel::Status), QStringLiteral("ok")) << "12 is no live value yet";
  EXPECT_TRUE(window.model().data(window.model().index(0, LiveTableModel::Status), ::Qt::ForegroundRole).isValid());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Value) == QStringLiteral("13"); }, 5000));
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Status), QStringLiteral("ok"));
}

TEST(Panel, ThePropertyPageLetsTheRequestOnTheLineAndAQueuedEditEndBeforeItClosesThePort) {
  qt::QtEventLoop loop;
  PseudoTerminalLink line;
  sim::Df1SimOptions slow{line.PathB(), false, 19200};
  slow.turnaroundMs = 300;  // each read is on the line a while
  sim::Df1Simulator plc(slow);
  plc.Plc().Table().SetWords(7, 0, {5});
  PanelOptions options = ParsePanelOptions(
      {"DfLink", "-p", line.PathA(), "--settings", "19200,n,8,1", "--node", "0", "--interval", "20", "N7:0"});
  PanelWindow window(options);
  window.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Value) == QStringLiteral("5"); }, 5000))
      << window.statusLabel()->text().toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.table().Rows()[0].onLine; }, 5000));
  std::string why;
  ASSERT_TRUE(window.table().Edit(0, "77", why)) << why;
  bool shown = false;
  WhenSheetShown([&](qt::PropertySheet& sheet) {
    shown = true;
    EXPECT_EQ(plc.Plc().Table().Word(7, 0).value_or(0), 77) << "the edit was written before the port closed";
    sheet.reject();
  });
  EXPECT_TRUE(window.showProperties());
  EXPECT_TRUE(shown);
  EXPECT_EQ(window.table().Rows()[0].failure, "") << "no request was lost to the close";
  // Read again once the port is open again.
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(window, 0, LiveTableModel::Status) == QStringLiteral("ok"); }, 5000));
  EXPECT_EQ(Cell(window, 0, LiveTableModel::Value), QStringLiteral("77"));
}

// A document saved while the port was open holds PortOpen=True, yet restoring opens nothing:
// the panel opens the line itself, says so when it cannot, and reads once Open port opens it.
TEST(Panel, ADocumentSavedWithItsPortOpenIsOpenedByThePanelNotTakenForOpen) {
  qt::QtEventLoop loop;
  PseudoTerminalLink line;
  sim::DirectNetSimulator station({line.PathB(), {1}});
  station.SetWord(1, 0x0400, 12);
  char folder[] = "/tmp/plcpanel-bag-XXXXXX";
  ASSERT_NE(::mkdtemp(folder), nullptr);
  const std::filesystem::path port = std::filesystem::path(folder) / "ttyPLC";
  const std::filesystem::path bag = std::filesystem::path(folder) / "plant.ini";
  {
    std::ofstream doc(bag);
    doc << "[SeqLink1]\nPortOpen=True\nSettings=\"9600,n,8,1\"\n";
  }
  PanelOptions options = ParsePanelOptions(
      {"seqlink", "--bag", bag.string(), "--port", port.string(), "--interval", "50", "V,2000"});
  std::unique_ptr<PanelWindow> window;
  ASSERT_NO_THROW(window = std::make_unique<PanelWindow>(options));
  window->show();
  const QString failure = window->statusLabel()->text();
  EXPECT_TRUE(failure.startsWith(QStringLiteral("cannot open port"))) << failure.toStdString();
  EXPECT_FALSE(window->table().Running());

  std::filesystem::create_symlink(line.PathA(), port);
  window->openPort();
  EXPECT_TRUE(QTest::qWaitFor([&] { return Cell(*window, 0, LiveTableModel::Value) == QStringLiteral("12"); }, 5000))
      << window->statusLabel()->text().toStdString();
  window.reset();
  std::filesystem::remove_all(folder);
}

TEST(PanelDisplay, WithoutADisplayPlcpanelSaysSoAndWhatToDoInsteadOfStartingQt) {
  test::RunResult r = test::RunProgram(
      test::PeerCommand{"env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", PLC_PLCPANEL, "seqlink"},
                        "build plcpanel"},
      std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err,
            "plcpanel: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are unset): run plcpanel on a "
            "desktop, or set QT_QPA_PLATFORM=offscreen (no picture, e.g. with --screenshots) or QT_QPA_PLATFORM=vnc (a "
            "VNC viewer shows it)\n");
  // With the offscreen platform it starts (and stops at the unknown option, past Qt's start).
  r = test::RunProgram(test::PeerCommand{"env", {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM=offscreen",
                                                 PLC_PLCPANEL, "seqlink", "--bogus"},
                                         "build plcpanel"},
                       std::chrono::seconds(30));
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("plcpanel: unknown option '--bogus'"), std::string::npos) << r.err;
}

TEST(PanelDisplay, ThePlatformQtWillUseDecidesWhichDisplayIsNeeded) {
  struct Case {
    std::vector<std::string> args;
    DisplayEnvironment env;
    bool shows;
  };
  for (const Case& c : {Case{{}, {nullptr, ":0", nullptr}, true}, Case{{}, {nullptr, nullptr, "wayland-0"}, true},
                        Case{{}, {nullptr, "", ""}, false}, Case{{}, {"xcb", nullptr, "wayland-0"}, false},
                        Case{{}, {"wayland;xcb", ":0", nullptr}, true},
                        Case{{}, {"wayland;xcb", nullptr, nullptr}, false}, Case{{}, {"offscreen", nullptr, nullptr}, true},
                        Case{{}, {"vnc:size=800x600", nullptr, nullptr}, true},
                        Case{{"-platform", "offscreen"}, {"xcb", nullptr, nullptr}, true},
                        Case{{"-platform", "xcb"}, {"offscreen", nullptr, nullptr}, false}}) {
    const std::string why = MissingDisplay(c.args, c.env);
    EXPECT_EQ(why.empty(), c.shows) << (c.env.platform ? c.env.platform : "(default)") << ": " << why;
  }
}

TEST(PanelOptions, PlclinksOptionsThenTheAddressesAndThePanelsOwn) {
  PanelOptions o = ParsePanelOptions({"DfLink", "-p/dev/ttyUSB1", "--settings", "19200,n,8,1", "N7:0", "--node=0",
                                      "--interval", "250", "--trace", "N7:1", "--", "-B3:0"});
  EXPECT_EQ(o.control.library, "DfLink");
  EXPECT_EQ(o.control.port, "/dev/ttyUSB1");
  EXPECT_EQ(o.control.settings, "19200,n,8,1");
  EXPECT_EQ(o.control.node, "0");
  EXPECT_TRUE(o.control.trace);
  EXPECT_EQ(o.intervalMs, 250);
  EXPECT_EQ(o.addresses, (std::vector<std::string>{"N7:0", "N7:1", "-B3:0"}));
  // Which options take the argument after them is plclink's to say.
  o = ParsePanelOptions({"rtulink", "-a", "2", "--json", "40001", "--rs485", "1", "40002"});
  EXPECT_EQ(o.control.address, "2");
  EXPECT_TRUE(o.control.json);
  EXPECT_EQ(o.addresses, (std::vector<std::string>{"40001", "40002"}));
  // A number is no option, as for plclink: a row (whose read the control refuses).
  o = ParsePanelOptions({"rtulink", "-5", "40001"});
  EXPECT_EQ(o.addresses, (std::vector<std::string>{"-5", "40001"}));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  for (const Case& c : {Case{{}, "no control given (rtulink, seqlink, DfLink or udplink)"},
                        Case{{"rtulink", "--bogus"}, "unknown option '--bogus'"},
                        Case{{"rtulink", "40001", "--port"}, "--port needs a value"},
                        Case{{"rtulink", "--interval", "5"},
                             "--interval wants milliseconds from 10 to 86400000, not '5'"},
                        Case{{"modlink"}, "unknown control 'modlink' (rtulink, seqlink, DfLink or udplink)"}}) {
    try {
      ParsePanelOptions(c.args);
      ADD_FAILURE() << c.message;
    } catch (const plclink::UsageError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace plc::plcpanel

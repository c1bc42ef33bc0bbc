// qt_host: a Qt program hosting RtuLink on Qt's event loop. A window shows the first four
// holding registers of a Modbus unit, read without waiting every half second, and opens
// RtuLink's property page from a button.
//
//   qt_host DEVICE UNIT SETTINGS [--once]
//
// e.g. qt_host /dev/ttyUSB0 1 9600,e,8,1. --once prints the values of the first completed read
// and quits (exit status 1 when it failed), for scripts; with QT_QPA_PLATFORM=offscreen it
// needs no display.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <iostream>
#include <string>

#include <plclink/base/ResultCodes.h>
#include <plclink/base/RuntimeError.h>
#include <plclink/platform/SerialPortMap.h>
#include <plclink/qt/PropertySheet.h>
#include <plclink/qt/QtEventLoop.h>
#include <plclink/qt/RtuLinkObject.h>
#include <plclink/screens/PropertyPage.h>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 4) {
    std::cerr << "usage: qt_host DEVICE UNIT SETTINGS [--once]\n";
    return 2;
  }
  const bool once = args.contains(QStringLiteral("--once"));

  // First the loop, then the control: the control's port and timers run on Qt's loop.
  plc::qt::QtEventLoop loop;
  plc::SerialPortMap::Current().Map(1, args[1].toStdString());
  plc::qt::RtuLinkObject rtu;
  try {
    // The typed members throw what the control refuses: a device that does not open, bad settings.
    rtu.setCommPort(1);
    rtu.setSettings(args[3]);
    rtu.setAddress(args[2].toInt());
    rtu.setPortOpen(true);
  } catch (const plc::RuntimeError& e) {
    std::cerr << "error " << e.Number() << ": " << e.what() << "\n";
    return 1;
  }

  QWidget window;
  window.setWindowTitle(QStringLiteral("qt_host - RtuLink"));
  auto* values = new QLabel(QStringLiteral("..."), &window);
  auto* properties = new QPushButton(QStringLiteral("Properties..."), &window);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(values);
  layout->addWidget(properties);

  // A read that fails says why, in the window and, with --once, on standard error.
  auto failed = [&](const QString& why) {
    values->setText(why);
    if (!once) return;
    std::cerr << why.toStdString() << "\n";
    QApplication::exit(1);
  };
  // Each completion carries the control's whole buffer: the values are MData(1..quan).
  bool awaiting = false;  // a request went out and its completion has not come
  QElapsedTimer sent;     // since that request went out
  int quietTicks = 0;     // after a lost request: a late reply is dropped, not taken for the next
  QObject::connect(&rtu, &plc::qt::RtuLinkObject::CommCompleteEx,
                   [&](const QVariantList& data, int, int quan, const QString& error, int status) {
                     awaiting = false;
                     if (status != -1) return failed(error);
                     QStringList text;
                     for (int i = 1; i <= quan && i < data.size(); ++i) text << data[i].toString();
                     values->setText(text.join(QLatin1Char(' ')));
                     if (!once) return;
                     std::cout << text.join(QLatin1Char(' ')).toStdString() << "\n";
                     QApplication::exit(0);
                   });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (awaiting) {
      // A non-waiting read's failure leaves its text in ReadErrors (an exception, a bad check).
      QString cause = rtu.failureCause();
      if (cause.isEmpty()) cause = rtu.ReadErrors().toString();
      if (!rtu.CommBusy().toBool()) {
        // Ended without its completion: the unit refused the read, or its reply failed its check.
        awaiting = false;
        return failed(cause.isEmpty() ? QStringLiteral("the read of 40001 failed") : cause);
      }
      if (sent.elapsed() < 2000) return;  // still on the line
      // A non-waiting read whose reply never comes stays pending until the next request or
      // until the host frees the control; a host that only waits for CommBusy waits forever.
      awaiting = false;
      rtu.setCommBusy(false);
      quietTicks = 2;
      return failed(QStringLiteral("no reply from unit %1 within 2 s%2")
                        .arg(args[2], cause.isEmpty() ? QString() : QStringLiteral(": ") + cause));
    }
    if (quietTicks > 0 && quietTicks--) return;
    if (rtu.CommBusy().toBool()) return;  // a read or write of the property page's is on the line
    QVariant address = QStringLiteral("40001"), buffer = QVariantList{}, size = 4;
    if (rtu.ReadPLCNW(address, buffer, &size) != plc::ResultOk) return failed(rtu.failureCause());
    awaiting = true;
    sent.start();
  });
  poll.start(500);
  QObject::connect(properties, &QPushButton::clicked, [&] {
    // A port refuses a new CommPort while open: the page edits the control with it closed.
    rtu.setPortOpen(false);
    plc::qt::PropertySheet sheet(plc::screens::PropertyPage1(), rtu.control(), &window);
    sheet.exec();
    try {
      rtu.setPortOpen(true);
    } catch (const plc::RuntimeError& e) {
      failed(QString::fromUtf8(e.what()));  // the reads that follow say the port is closed
    }
  });
  if (once) QTimer::singleShot(10'000, [&] { failed(QStringLiteral("no read completed within 10 s")); });
  window.show();
  return QApplication::exec();
}

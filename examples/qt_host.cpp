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
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <iostream>
#include <string>

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
  rtu.setCommPort(1);
  rtu.setSettings(args[3]);
  rtu.setAddress(args[2].toInt());
  rtu.setPortOpen(true);

  QWidget window;
  window.setWindowTitle(QStringLiteral("qt_host - RtuLink"));
  auto* values = new QLabel(QStringLiteral("..."), &window);
  auto* properties = new QPushButton(QStringLiteral("Properties..."), &window);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(values);
  layout->addWidget(properties);

  // Each completion carries the control's whole buffer: the values are MData(1..quan).
  QObject::connect(&rtu, &plc::qt::RtuLinkObject::CommCompleteEx,
                   [&](const QVariantList& data, int, int quan, const QString& error, int status) {
                     QStringList text;
                     for (int i = 1; i <= quan && i < data.size(); ++i) text << data[i].toString();
                     values->setText(status == -1 ? text.join(QLatin1Char(' ')) : error);
                     if (!once) return;
                     std::cout << (status == -1 ? text.join(QLatin1Char(' ')) : error).toStdString() << "\n";
                     QApplication::exit(status == -1 ? 0 : 1);
                   });
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (rtu.CommBusy().toBool()) return;  // the previous read is still on the line
    QVariant address = QStringLiteral("40001"), buffer = QVariantList{}, size = 4;
    rtu.ReadPLCNW(address, buffer, &size);
  });
  poll.start(500);
  QObject::connect(properties, &QPushButton::clicked, [&] {
    // A port refuses a new CommPort while open: the page edits the control with it closed.
    rtu.setPortOpen(false);
    plc::qt::PropertySheet sheet(plc::screens::PropertyPage1(), rtu.control(), &window);
    sheet.exec();
    rtu.setPortOpen(true);
  });
  if (once) QTimer::singleShot(10'000, [] { QApplication::exit(1); });
  window.show();
  return QApplication::exec();
}

// A Qt host with no display at all (QCoreApplication): ShowAboutBox must give it the About
// box's texts and return, never try to open a window.
#include <QCoreApplication>
#include <QStringList>
#include <iostream>

#include "qt/QtEventLoop.h"
#include "qt/UdpLinkObject.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  plc::qt::QtEventLoop loop;
  plc::qt::UdpLinkObject udp;
  QObject::connect(&udp.host(), &plc::qt::QtComponentHost::dialogTexts, [](const QStringList& texts) {
    std::cout << texts.join(QStringLiteral("|")).toStdString() << "\n";
  });
  udp.ShowAboutBox();
  std::cout << "still running\n";
  return 0;
}

// plcpanel: an operator panel for one control, the windowed host of the link controls.
#include <QApplication>
#include <QMessageBox>
#include <iostream>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "qt/QtEventLoop.h"
#include "tools/plcpanel/DisplayCheck.h"
#include "tools/plcpanel/PanelOptions.h"
#include "tools/plcpanel/PanelWindow.h"
#include "tools/plcpanel/Screenshots.h"

int main(int argc, char** argv) {
  // Help needs no display.
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
    if (std::string(argv[i]) == "-h" || std::string(argv[i]) == "--help") {
      std::cout << plc::plcpanel::PanelUsage();
      return 0;
    }
  }
  const std::string noDisplay =
      plc::plcpanel::MissingDisplay(std::vector<std::string>(argv + 1, argv + argc), plc::plcpanel::CurrentDisplayEnvironment());
  if (!noDisplay.empty()) {
    std::cerr << "plcpanel: " << noDisplay << "\n";
    return 1;
  }
  QApplication app(argc, argv);  // takes Qt's own options (-platform ...) out of the arguments
  QApplication::setApplicationName(QStringLiteral("plcpanel"));
  std::vector<std::string> args;
  for (const QString& a : QApplication::arguments().mid(1)) args.push_back(a.toStdString());
  plc::plcpanel::PanelOptions options;
  try {
    options = plc::plcpanel::ParsePanelOptions(args);
  } catch (const plc::plclink::UsageError& e) {
    std::cerr << "plcpanel: " << e.what() << "\n" << plc::plcpanel::PanelUsage();
    return 2;
  }
  // The controls run on Qt's loop: it is made before them.
  plc::qt::QtEventLoop loop;
  std::unique_ptr<plc::plcpanel::PanelWindow> window;
  try {
    window = std::make_unique<plc::plcpanel::PanelWindow>(options);
  } catch (const std::exception& e) {
    std::cerr << "plcpanel: " << e.what() << "\n";
    if (!options.screenshots) QMessageBox::critical(nullptr, QStringLiteral("plcpanel"), QString::fromUtf8(e.what()));
    return 1;
  }
  window->show();
  if (options.screenshots) return plc::plcpanel::TakeScreenshots(*window, QString::fromStdString(*options.screenshots));
  return QApplication::exec();
}

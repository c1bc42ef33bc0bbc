#pragma once
// plcpanel's window: the control's live table, its menus (document, port, property page,
// About box, CCM window for udplink) and a status line with the latest failure.
//
// The control is loaded, restored and set up as plclink does it (plclink's ControlSession),
// then seated in this window's Qt host and wrapped in its generated QObject wrapper; it runs
// on the QtEventLoop the program made first.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTableView>
#include <memory>

#include "qt/ControlObject.h"
#include "qt/QtComponentHost.h"
#include "screens/LiveTable.h"
#include "tools/plclink/ControlSession.h"
#include "tools/plcpanel/LiveTableModel.h"
#include "tools/plcpanel/PanelOptions.h"

namespace plc::plcpanel {

class PanelWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Loads the control and opens its port (a port that cannot open is said in the status line,
  // and nothing is polled until Control > Open port opens it; the window stays, to fix the
  // settings). Throws what ControlSession throws for a control that cannot be loaded or an
  // option it refuses.
  explicit PanelWindow(const PanelOptions& options, QWidget* parent = nullptr);
  ~PanelWindow() override;

  Control& control() { return session_->Get(); }
  qt::ControlObject& object() { return *object_; }
  screens::LiveTable& table() { return *table_; }
  LiveTableModel& model() { return *model_; }
  QTableView* view() const { return view_; }
  QLabel* statusLabel() const { return status_; }

  // Polling as the person asked for it; the table sweeps only while the port is open.
  void startPolling(int intervalMs);
  void stopPolling();
  bool polling() const { return polling_; }

 public Q_SLOTS:
  void openPort();
  void closePort();
  // The property page in a settings dialog (RtuLink, DfLink); false when the control has none.
  bool showProperties();
  void showAbout();
  // udplink's CCM request window.
  void showCcmWindow();
  void save();

 private:
  void BuildMenus();
  void AddAddress();
  void ShowStatus(const QString& text, bool failure);
  void PortChanged();
  bool PortOpen();
  // Sweeps while polling is wanted and the port is open, else not.
  void SyncPolling();

  PanelOptions options_;
  std::unique_ptr<plclink::ControlSession> session_;
  qt::QtComponentHost host_;
  std::unique_ptr<qt::ControlObject> object_;
  std::unique_ptr<screens::LiveTable> table_;
  LiveTableModel* model_ = nullptr;
  QTableView* view_ = nullptr;
  QLineEdit* address_ = nullptr;
  QLabel* status_ = nullptr;
  bool statusFailure_ = false;  // the status line says a failure
  QAction* openAction_ = nullptr;
  QAction* closeAction_ = nullptr;
  QAction* pollAction_ = nullptr;
  int intervalMs_ = 1000;
  bool polling_ = false;
};

}  // namespace plc::plcpanel

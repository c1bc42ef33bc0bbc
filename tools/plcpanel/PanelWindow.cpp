#include "tools/plcpanel/PanelWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeySequence>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "base/RuntimeError.h"
#include "platform/SerialPortMap.h"
#include "qt/CcmRequestDialog.h"
#include "qt/ControlObjects.h"
#include "qt/PropertySheet.h"
#include "screens/PropertyPage.h"
#include "tools/plclink/LineTrace.h"

namespace plc::plcpanel {

PanelWindow::PanelWindow(const PanelOptions& options, QWidget* parent)
    : QMainWindow(parent), options_(options), session_(std::make_unique<plclink::ControlSession>(options.control)),
      intervalMs_(options.intervalMs) {
  session_->ApplyOptions(options_.control);
  host_.setDialogParent(this);
  if (options_.control.trace) host_.setSerialTrace(plclink::StandardErrorTrace());
  object_ = qt::WrapControl(session_->Get(), &host_);
  table_ = std::make_unique<screens::LiveTable>(session_->Get());
  object_->addEventListener(
      [this](const std::string& name, std::vector<Variant>& args) { table_->OnEvent(name, args); });
  connect(&host_, &qt::QtComponentHost::propertyChanged, this, [this](const QString& key) {
    if (key == QLatin1String("PortOpen")) PortChanged();
  });

  model_ = new LiveTableModel(*table_, this);
  connect(model_, &LiveTableModel::failure, this, [this](const QString& text) { ShowStatus(text, true); });
  view_ = new QTableView(this);
  view_->setObjectName(QStringLiteral("tblValues"));
  view_->setModel(model_);
  view_->horizontalHeader()->setStretchLastSection(true);
  view_->verticalHeader()->setVisible(false);
  view_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                         QAbstractItemView::AnyKeyPressed);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setColumnWidth(LiveTableModel::Address, 140);
  view_->setColumnWidth(LiveTableModel::Value, 110);

  address_ = new QLineEdit(this);
  address_->setObjectName(QStringLiteral("txtAddress"));
  address_->setPlaceholderText(tr("Address to add, e.g. 40001, V,2000 or N7:0"));
  auto* add = new QPushButton(tr("Add"), this);
  add->setObjectName(QStringLiteral("cmdAdd"));
  auto* remove = new QPushButton(tr("Remove"), this);
  remove->setObjectName(QStringLiteral("cmdRemove"));
  connect(add, &QPushButton::clicked, this, &PanelWindow::AddAddress);
  connect(address_, &QLineEdit::returnPressed, this, &PanelWindow::AddAddress);
  connect(remove, &QPushButton::clicked, this, [this] {
    const QModelIndex current = view_->currentIndex();
    if (current.isValid()) model_->removeRow(current.row());
  });
  auto* entry = new QHBoxLayout;
  entry->addWidget(address_, 1);
  entry->addWidget(add);
  entry->addWidget(remove);
  auto* central = new QWidget(this);
  auto* all = new QVBoxLayout(central);
  all->addLayout(entry);
  all->addWidget(view_, 1);
  setCentralWidget(central);

  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("lblStatus"));
  statusBar()->addWidget(status_, 1);
  BuildMenus();
  setWindowTitle(tr("plcpanel - %1").arg(object_->className()));
  resize(560, 360);

  for (const std::string& a : options_.addresses) {
    QString why;
    model_->addRow(QString::fromStdString(a), why);
  }
  openPort();
  startPolling(intervalMs_);
}

PanelWindow::~PanelWindow() {
  table_->Stop();
  // The view and its model go before the table they show.
  delete view_;
  delete model_;
}

void PanelWindow::BuildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* saveAction = file->addAction(tr("&Save to document"), this, &PanelWindow::save);
  saveAction->setEnabled(options_.control.bag.has_value());
  saveAction->setShortcut(QKeySequence::Save);
  file->addSeparator();
  file->addAction(tr("&Quit"), QKeySequence::Quit, this, &QWidget::close);

  QMenu* control = menuBar()->addMenu(tr("&Control"));
  openAction_ = control->addAction(tr("&Open port"), this, &PanelWindow::openPort);
  closeAction_ = control->addAction(tr("&Close port"), this, &PanelWindow::closePort);
  pollAction_ = control->addAction(tr("&Poll"));
  pollAction_->setCheckable(true);
  connect(pollAction_, &QAction::toggled, this, [this](bool on) {
    if (on) startPolling(intervalMs_);
    else stopPolling();
  });
  control->addAction(tr("Poll &interval..."), this, [this] {
    bool ok = false;
    int ms = QInputDialog::getInt(this, tr("Poll interval"), tr("Milliseconds between sweeps:"), intervalMs_, 10,
                                  86'400'000, 100, &ok);
    if (ok) startPolling(ms);
  });
  control->addSeparator();
  QAction* properties = control->addAction(tr("P&roperties..."), this, [this] { showProperties(); });
  properties->setEnabled(screens::PropertyPageFor(session_->Get().ClassName()).has_value());
  if (NamesEqual(session_->Get().ClassName(), "UdpLink"))
    control->addAction(tr("CC&M request..."), this, &PanelWindow::showCcmWindow);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(tr("&About %1...").arg(object_->className()), this, &PanelWindow::showAbout);
}

void PanelWindow::ShowStatus(const QString& text, bool failure) {
  status_->setText(text);
  statusFailure_ = failure;
  status_->setStyleSheet(failure ? QStringLiteral("color: #b00020") : QString());
}

void PanelWindow::AddAddress() {
  QString why;
  if (model_->addRow(address_->text(), why)) {
    address_->clear();
    table_->Sweep();
  } else {
    ShowStatus(why, true);
  }
}

void PanelWindow::openPort() {
  try {
    session_->OpenPort();
    // UdpLink in ECOM mode opens the ECOM transport, not its port, and says how in CurrentErrors.
    Control& c = session_->Get();
    const bool ecom = session_->Find("CurrentErrors", MemberKind::Property) &&
                      session_->Find("CommMode", MemberKind::Property) && c.GetProperty("CommMode").ToInt32() == 3;
    const std::string errors = ecom ? c.GetProperty("CurrentErrors").ToString() : std::string();
    if (!errors.empty()) ShowStatus(QString::fromStdString(errors), true);
    else if (ecom) ShowStatus(tr("ECOM transport open"), false);
    else ShowStatus(tr("port open: %1").arg(QString::fromStdString(session_->PortDevice())), false);
  } catch (const RuntimeError& e) {
    // Kept in view: nothing is polled on a closed port to say something else over it.
    ShowStatus(tr("%1 (Control > Open port to try again)").arg(QString::fromUtf8(e.what())), true);
  }
  PortChanged();
}

void PanelWindow::closePort() {
  try {
    session_->Get().SetProperty("PortOpen", false);
    ShowStatus(tr("port closed"), false);
  } catch (const RuntimeError& e) {
    ShowStatus(QString::fromUtf8(e.what()), true);
  }
  PortChanged();
}

bool PanelWindow::PortOpen() {
  try {
    return session_->Get().GetProperty("PortOpen").ToBool();
  } catch (const RuntimeError&) {
    return false;
  }
}

void PanelWindow::PortChanged() {
  const bool open = PortOpen();
  if (openAction_) openAction_->setEnabled(!open);
  if (closeAction_) closeAction_->setEnabled(open);
  model_->setNotRead(open ? QString() : tr("not read: the port is closed (the value as last read)"));
  SyncPolling();
}

void PanelWindow::SyncPolling() {
  const bool sweep = polling_ && PortOpen();
  if (sweep && !table_->Running()) table_->Start(intervalMs_);
  else if (!sweep && table_->Running()) table_->Stop();
}

void PanelWindow::startPolling(int intervalMs) {
  intervalMs_ = intervalMs;
  polling_ = true;
  if (PortOpen()) table_->Start(intervalMs);
  if (pollAction_) {
    QSignalBlocker quiet(pollAction_);
    pollAction_->setChecked(true);
  }
}

void PanelWindow::stopPolling() {
  polling_ = false;
  SyncPolling();
  if (pollAction_) {
    QSignalBlocker quiet(pollAction_);
    pollAction_->setChecked(false);
  }
}

bool PanelWindow::showProperties() {
  auto page = screens::PropertyPageFor(session_->Get().ClassName());
  if (!page) return false;
  // A port refuses a new CommPort while it is open, so the page edits the control with its
  // port closed, as at design time, and the port opens again afterwards.
  const bool wasPolling = polling_;
  const bool wasOpen = session_->Get().GetProperty("PortOpen").ToBool();
  stopPolling();
  // A request on the line, and edits waiting to be written, end first (as long as a reply may
  // take): the port closed under them would lose the reply and the edits.
  EventLoop& loop = EventLoop::Current();
  loop.WaitUntil([this] { return table_->Idle(); }, loop.Now() + screens::LiveTable::kReplyLimitMicros);
  if (wasOpen) closePort();
  qt::PropertySheet sheet(std::move(*page), session_->Get(), this);
  const bool applied = sheet.exec() == QDialog::Accepted;
  if (wasOpen) openPort();
  // What the reopening said stays a failure when it was one.
  if (applied) ShowStatus(tr("properties applied; %1").arg(status_->text()), statusFailure_);
  if (wasPolling) startPolling(intervalMs_);
  return true;
}

void PanelWindow::showAbout() { object_->call(QStringLiteral("ShowAboutBox")); }

void PanelWindow::showCcmWindow() {
  qt::CcmRequestDialog dialog({}, this);
  dialog.exec();
}

void PanelWindow::save() {
  try {
    session_->Save();
    ShowStatus(tr("saved to %1").arg(QString::fromStdString(*options_.control.bag)), false);
  } catch (const RuntimeError& e) {
    ShowStatus(QString::fromUtf8(e.what()), true);
  }
}

}  // namespace plc::plcpanel

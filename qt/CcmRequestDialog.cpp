#include "qt/CcmRequestDialog.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace plc::qt {

namespace {

QRadioButton* Option(const char* name, const QString& text, QWidget* parent) {
  auto* b = new QRadioButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

QLineEdit* Box(const char* name, const std::string& text, QWidget* parent) {
  auto* e = new QLineEdit(QString::fromStdString(text), parent);
  e->setObjectName(QString::fromLatin1(name));
  return e;
}

QWidget* Pair(QWidget* a, QWidget* b, QWidget* parent) {
  auto* w = new QWidget(parent);
  auto* row = new QHBoxLayout(w);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(a);
  row->addWidget(b);
  row->addStretch();
  return w;
}

}  // namespace

CcmRequestDialog::CcmRequestDialog(screens::CcmRequestWindow::ApiLoader loader, QWidget* parent)
    : QDialog(parent), window_(loader), loader_(std::move(loader)) {
  setObjectName(QStringLiteral("CCM_FORM"));
  setWindowTitle(tr("CCM Request"));
  const screens::CcmFields& f = window_.fields;

  optUseIP_ = Option("optUseIP", tr("Use IP"), this);
  optUseIPX_ = Option("optUseIPX", tr("Use IPX"), this);
  optModuleID_ = Option("optModuleID", tr("Module ID"), this);
  optName_ = Option("optName", tr("Name"), this);
  optRead_ = Option("optRead", tr("Read"), this);
  optWrite_ = Option("optWrite", tr("Write"), this);
  txtModuleID_ = Box("txtModuleID", f.moduleId, this);
  txtName_ = Box("txtName", f.name, this);
  txtAddress_ = Box("txtAddress", f.address, this);
  txtSize_ = Box("txtSize", f.size, this);
  txtData_ = Box("txtData", f.data, this);
  txtData_->setPlaceholderText(tr("hexadecimal: registers 1234 0056, bytes 12 34"));
  cboDataType_ = new QComboBox(this);
  cboDataType_->setObjectName(QStringLiteral("cboDataType"));
  for (auto type : {screens::CcmDataType::Registers, screens::CcmDataType::Inputs, screens::CcmDataType::Outputs})
    cboDataType_->addItem(QString::fromLatin1(screens::DataTypeItem(type)), static_cast<int>(type));
  cmdDoRequest_ = new QPushButton(tr("Do Request"), this);
  cmdDoRequest_->setObjectName(QStringLiteral("cmdDoRequest"));
  cmdDoRequest_->setDefault(true);
  txtResults_ = new QPlainTextEdit(this);
  txtResults_->setObjectName(QStringLiteral("txtResults"));
  txtResults_->setReadOnly(true);
  txtResults_->setMinimumHeight(120);

  // Each pair of options is a group of its own.
  for (auto [a, b] :
       {std::pair{optUseIP_, optUseIPX_}, std::pair{optModuleID_, optName_}, std::pair{optRead_, optWrite_}}) {
    auto* group = new QButtonGroup(this);
    group->addButton(a);
    group->addButton(b);
  }
  optUseIP_->setChecked(f.protocol == screens::CcmProtocol::UseIP);
  optUseIPX_->setChecked(f.protocol == screens::CcmProtocol::UseIPX);
  optModuleID_->setChecked(f.query == screens::CcmQuery::ModuleId);
  optName_->setChecked(f.query == screens::CcmQuery::Name);
  optRead_->setChecked(!f.write);
  optWrite_->setChecked(f.write);
  auto follow = [this] {
    txtModuleID_->setEnabled(optModuleID_->isChecked());
    txtName_->setEnabled(optName_->isChecked());
    txtData_->setEnabled(optWrite_->isChecked());
  };
  for (QRadioButton* b : {optModuleID_, optName_, optRead_, optWrite_}) connect(b, &QRadioButton::toggled, this, follow);
  follow();

  auto* protocol = new QGroupBox(tr("Protocol"), this);
  auto* protocolRow = new QHBoxLayout(protocol);
  protocolRow->addWidget(optUseIP_);
  protocolRow->addWidget(optUseIPX_);
  auto* query = new QGroupBox(tr("Query by"), this);
  auto* queryForm = new QFormLayout(query);
  queryForm->addRow(optModuleID_, txtModuleID_);
  queryForm->addRow(optName_, txtName_);
  auto* request = new QGroupBox(tr("Request"), this);
  auto* requestForm = new QFormLayout(request);
  requestForm->addRow(tr("Data type:"), cboDataType_);
  auto hint = [this](const char* text) { return new QLabel(QString::fromLatin1(text), this); };
  requestForm->addRow(tr("Address:"), Pair(txtAddress_, hint(screens::kCcmAddressHint), this));
  requestForm->addRow(tr("Size:"), Pair(txtSize_, hint(screens::kCcmSizeHint), this));
  requestForm->addRow(QString(), Pair(optRead_, optWrite_, this));
  requestForm->addRow(tr("Data:"), txtData_);

  auto* top = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(protocol);
  left->addWidget(query);
  left->addStretch();
  top->addLayout(left);
  top->addWidget(request, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cmdDoRequest_);
  auto* all = new QVBoxLayout(this);
  all->addLayout(top);
  all->addLayout(buttons);
  all->addWidget(new QLabel(tr("Results:"), this));
  all->addWidget(txtResults_, 1);
  resize(560, 420);

  connect(cmdDoRequest_, &QPushButton::clicked, this, &CcmRequestDialog::doRequest);
}

CcmRequestDialog::~CcmRequestDialog() {
  if (worker_.joinable()) worker_.join();
}

void CcmRequestDialog::ReadFields() {
  screens::CcmFields& f = window_.fields;
  f.protocol = optUseIPX_->isChecked() ? screens::CcmProtocol::UseIPX : screens::CcmProtocol::UseIP;
  f.query = optName_->isChecked() ? screens::CcmQuery::Name : screens::CcmQuery::ModuleId;
  f.moduleId = txtModuleID_->text().toStdString();
  f.name = txtName_->text().toStdString();
  f.dataType = static_cast<screens::CcmDataType>(cboDataType_->currentData().toInt());
  f.address = txtAddress_->text().toStdString();
  f.size = txtSize_->text().toStdString();
  f.write = optWrite_->isChecked();
  f.data = txtData_->text().toStdString();
}

void CcmRequestDialog::ShowResults() {
  txtResults_->setPlainText(QString::fromStdString(window_.ResultText()));
  txtResults_->moveCursor(QTextCursor::End);
}

void CcmRequestDialog::doRequest() {
  if (running_) return;
  ReadFields();
  auto request = window_.Check();
  if (!request) {
    ShowResults();
    Q_EMIT requestDone(false);
    return;
  }
  if (worker_.joinable()) worker_.join();
  running_ = true;
  cmdDoRequest_->setEnabled(false);
  worker_ = std::thread([this, r = *request, loader = loader_] {
    screens::CcmOutcome outcome;
    // Nothing may leave a thread's function (that ends the program): what the request threw
    // becomes its last message.
    try {
      screens::CcmRequestWindow local(loader);
      outcome = local.Run(r);
    } catch (const std::exception& e) {
      outcome.ok = false;
      outcome.messages.push_back(std::string("Do Request stopped: ") + e.what());
    } catch (...) {
      outcome.ok = false;
      outcome.messages.push_back("Do Request stopped: an error of unknown kind");
    }
    QMetaObject::invokeMethod(this, [this, outcome] { Finished(outcome); }, ::Qt::QueuedConnection);
  });
}

void CcmRequestDialog::Finished(const screens::CcmOutcome& outcome) {
  if (worker_.joinable()) worker_.join();
  running_ = false;
  window_.Show(outcome);
  ShowResults();
  cmdDoRequest_->setEnabled(true);
  Q_EMIT requestDone(outcome.ok);
}

}  // namespace plc::qt

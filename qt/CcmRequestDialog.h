#pragma once
// The view of udplink's CCM request window: protocol, query by module ID or name, data type,
// address, size, read or write and the data to write, "Do Request" and the result box. The
// request runs on a thread of its own, so the window stays live while the library waits for a
// module, and hei_pas (which keeps its state per thread) leaves the transport of a UdpLink on
// the GUI thread alone.
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <thread>

#include "screens/CcmRequestWindow.h"

namespace plc::qt {

class CcmRequestDialog : public QDialog {
  Q_OBJECT

 public:
  // Without a loader the window binds libhei_pas.so as UdpLink does.
  explicit CcmRequestDialog(screens::CcmRequestWindow::ApiLoader loader = {}, QWidget* parent = nullptr);
  ~CcmRequestDialog() override;

  screens::CcmRequestWindow& window() { return window_; }
  bool running() const { return worker_.joinable() && running_; }

 public Q_SLOTS:
  // Do Request: reads the fields, checks them and runs the request.
  void doRequest();

 Q_SIGNALS:
  // The request ended (ok: it went through) or a field was refused (ok false, nothing sent).
  void requestDone(bool ok);

 private:
  void ReadFields();
  void ShowResults();
  void Finished(const screens::CcmOutcome& outcome);

  screens::CcmRequestWindow window_;
  screens::CcmRequestWindow::ApiLoader loader_;
  QRadioButton *optUseIP_, *optUseIPX_, *optModuleID_, *optName_, *optRead_, *optWrite_;
  QLineEdit *txtModuleID_, *txtName_, *txtAddress_, *txtSize_, *txtData_;
  QComboBox* cboDataType_;
  QPushButton* cmdDoRequest_;
  QPlainTextEdit* txtResults_;
  std::thread worker_;
  bool running_ = false;
};

}  // namespace plc::qt

#pragma once
// What a control asks of a Qt program: the ambient user mode (run unless the host says design),
// the ambient font (the application's font unless set), the property-changed notification (a
// Qt signal naming the property-bag key) and modal dialogs. ShowAboutBox shows the About box
// (qt/AboutDialog) modally over the dialog parent; any other dialog is a message box.
//
// A host without a display (a QCoreApplication, no QApplication) shows nothing: the dialog's
// texts go to dialogTexts and to the log, and the call returns. dialogTexts is emitted for
// every dialog, shown or not.
//
// One host per control: the property-changed notification does not say which control changed.
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <optional>

#include "platform/ComponentHost.h"

namespace plc::qt {

class QtComponentHost : public QObject, public ComponentHost {
  Q_OBJECT

 public:
  explicit QtComponentHost(QObject* parent = nullptr);

  bool UserMode() const override { return userMode_; }
  void setUserMode(bool run) { userMode_ = run; }
  Font AmbientFont() const override;
  void setAmbientFont(const QFont& font) { font_ = font; }
  void PropertyChanged(const std::string& key) override;
  void ShowModal(const DialogRequest& dialog) override;
  TraceHook SerialTrace() const override { return trace_; }
  void setSerialTrace(TraceHook hook) { trace_ = std::move(hook); }

  // The window dialogs are modal over (none: the application's active window).
  void setDialogParent(QWidget* parent) { dialogParent_ = parent; }
  // Whether this host can show a window at all.
  static bool HasDisplay();

 Q_SIGNALS:
  void propertyChanged(const QString& key);
  // A dialog's texts, its caption first, before it is shown (or instead, without a display).
  void dialogTexts(const QStringList& texts);

 private:
  bool userMode_ = true;
  std::optional<QFont> font_;
  TraceHook trace_;
  QPointer<QWidget> dialogParent_;
};

// A plc::Font from a QFont and back.
Font FontOf(const QFont& font);
QFont QFontOf(const Font& font);

}  // namespace plc::qt

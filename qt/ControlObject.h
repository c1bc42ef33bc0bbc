#pragma once
// The QObject face of a control, the base of the generated wrappers (RtuLinkObject,
// SeqLinkObject, DfLinkObject, UdpLinkObject). Each wrapper declares the control's properties
// as Q_PROPERTY with a NOTIFY signal (<Name>Changed), its events as signals carrying the
// event's arguments, its enumerations as Q_ENUMs, and its methods as C++ members; this base
// does the work for all of them through the control's member table.
//
// Values cross as QVariant (qt/QtVariant.h). A method's by-reference parameter is a QVariant&
// (an optional one a QVariant*, nullptr to omit it): what the control writes into it is there
// after the call, an array in the typed list the host gave (QList<int>...) when it was one. The typed members throw plc::RuntimeError as the control does; the
// late-bound get/set/call, for QML and scripts, report it with the error signal instead.
//
// NOTIFY: a property set through the wrapper emits its signal, and so does every property the
// control reports changed on its own (the host's property-changed notification, by key), each
// only when its value is not the one it had.
// Event signals carry copies: a handler cannot hand a value back to the control.
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Control.h"
#include "platform/PluginControl.h"
#include "platform/PropertyBag.h"
#include "qt/QtComponentHost.h"

namespace plc::qt {

class ControlObject : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString className READ className CONSTANT)

 public:
  ~ControlObject() override;

  Control& control() const { return *control_; }
  QtComponentHost& host() const { return *host_; }
  QString className() const { return QString::fromStdString(control_->ClassName()); }
  // Why the control's last read or write failed; empty after success.
  QString failureCause() const { return QString::fromStdString(control_->FailureCause()); }

  // Late binding by name.
  Q_INVOKABLE QVariant get(const QString& property);
  Q_INVOKABLE bool set(const QString& property, const QVariant& value);
  Q_INVOKABLE QVariant call(const QString& method, const QVariantList& args = {});

  // Saves the control to a document (WriteProperties).
  void save(PropertyBag& bag) { control_->WriteProperties(bag); }

  // Sees every event with its arguments as the control raises them, before the signals (for
  // models that run beside the wrapper, such as a live table).
  using EventListener = std::function<void(const std::string& name, std::vector<Variant>& args)>;
  void addEventListener(EventListener listener) { listeners_.push_back(std::move(listener)); }

 Q_SIGNALS:
  // Every event, by name, besides its own signal.
  void controlEvent(const QString& name, const QVariantList& args);
  // A late-bound get, set or call that the control refused.
  void error(int number, const QString& message);

 protected:
  // A control of the plug-in library (loaded by name), placed as a host places it: Initialize,
  // then ReadProperties from bag (or InitProperties without one), then Show. Without a host of
  // its own the control gets one made here (run mode).
  // Throws std::invalid_argument when the library's control is not of className.
  ControlObject(const char* library, const char* className, PropertyBag* bag, QtComponentHost* host, QObject* parent);
  // A control made elsewhere, which must outlive this object; no container event is raised.
  ControlObject(Control& control, const char* className, QtComponentHost* host, QObject* parent);

  // An argument of a method call: by value, by reference, or an optional by-reference one.
  struct Arg {
    const QVariant* in = nullptr;
    QVariant* out = nullptr;
    bool given = true;
  };
  static Arg In(const QVariant& v) { return Arg{&v, nullptr, true}; }
  static Arg Ref(QVariant& v) { return Arg{&v, &v, true}; }
  static Arg Opt(QVariant* v) { return Arg{v, v, v != nullptr}; }

  QVariant Get(const char* property) const;
  void Set(const char* property, const QVariant& value);
  QVariant Call(const char* method, std::initializer_list<Arg> args);

 private:
  void Seat(const char* className, QtComponentHost* host);
  void Raised(const std::string& name, std::vector<Variant>& args);
  void KeyChanged(const QString& key);
  void Notify(const QString& property);
  void RememberValues();
  std::optional<QVariant> Current(const char* property) const;

  std::optional<PluginControl> owned_;
  Control* control_ = nullptr;
  std::unique_ptr<QtComponentHost> ownHost_;
  QtComponentHost* host_ = nullptr;
  std::vector<EventListener> listeners_;
  int setting_ = 0;                // depth of sets through this wrapper
  std::vector<QString> notified_;  // keys the control reported during them
  std::map<QString, QVariant> told_;  // each property's value as the host last saw it
};

}  // namespace plc::qt

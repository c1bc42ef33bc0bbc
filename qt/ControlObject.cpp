#include "qt/ControlObject.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QPointer>
#include <QtDebug>
#include <array>
#include <stdexcept>

#include "base/RuntimeError.h"
#include "qt/QtEventLoop.h"
#include "qt/QtVariant.h"

namespace plc::qt {

ControlObject::ControlObject(const char* library, const char* className, PropertyBag* bag, QtComponentHost* host,
                             QObject* parent)
    : QObject(parent), owned_(PluginControl::Load(library)), control_(&**owned_) {
  Seat(className, host);
  control_->Initialize();
  if (bag) control_->ReadProperties(*bag);
  else control_->InitProperties();
  control_->Show();
  RememberValues();
}

ControlObject::ControlObject(Control& control, const char* className, QtComponentHost* host, QObject* parent)
    : QObject(parent), control_(&control) {
  Seat(className, host);
  RememberValues();
}

// The values a host sees before any NOTIFY: a signal goes out only when one of them changes.
void ControlObject::RememberValues() {
  for (const MemberInfo& m : control_->Members()) {
    if (m.kind != MemberKind::Property || !m.readable) continue;
    if (std::optional<QVariant> value = Current(m.name.c_str())) told_[QString::fromStdString(m.name)] = *value;
  }
}

std::optional<QVariant> ControlObject::Current(const char* property) const {
  try {
    return Get(property);
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

void ControlObject::Seat(const char* className, QtComponentHost* host) {
  if (!NamesEqual(control_->ClassName(), className)) {
    const std::string what = "a " + control_->ClassName() + " is no " + className;
    control_ = nullptr;
    throw std::invalid_argument(what);
  }
  if (!dynamic_cast<QtEventLoop*>(&EventLoop::Current()))
    qWarning("plclink: a control made without a QtEventLoop on this thread: its timers and port will not run on "
             "Qt's loop");
  if (!host) {
    ownHost_ = std::make_unique<QtComponentHost>();
    host = ownHost_.get();
  }
  host_ = host;
  connect(host_, &QtComponentHost::propertyChanged, this, &ControlObject::KeyChanged);
  control_->SetHost(host_);
  control_->SetEventSink([this](const std::string& name, std::vector<Variant>& args) { Raised(name, args); });
}

ControlObject::~ControlObject() {
  if (!control_) return;
  // A borrowed control outlives us: it keeps no pointer into this object.
  control_->SetEventSink(nullptr);
  control_->SetHost(nullptr);
}

QVariant ControlObject::Get(const char* property) const { return ToQVariant(control_->GetProperty(property)); }

void ControlObject::Set(const char* property, const QVariant& value) {
  ++setting_;
  try {
    control_->SetProperty(property, FromQVariant(value));
  } catch (...) {
    --setting_;
    notified_.clear();
    throw;
  }
  --setting_;
  std::vector<QString> keys;
  keys.swap(notified_);
  const QString name = QString::fromLatin1(property);
  Notify(name);
  for (const QString& key : keys)
    if (key != name) Notify(key);
}

QVariant ControlObject::Call(const char* method, std::initializer_list<Arg> args) {
  std::vector<Variant> values;
  values.reserve(args.size());
  for (const Arg& a : args) values.push_back(a.given ? FromQVariant(*a.in) : Variant());
  ArgList list;
  std::size_t k = 0;
  for (const Arg& a : args) {
    list.push_back(a.given ? &values[k] : nullptr);  // nullptr: omitted
    ++k;
  }
  Variant result = control_->Invoke(method, list);
  k = 0;
  for (const Arg& a : args) {
    if (a.out) *a.out = ToQVariantLike(values[k], *a.out);
    ++k;
  }
  return ToQVariant(result);
}

QVariant ControlObject::get(const QString& property) {
  try {
    return Get(property.toStdString().c_str());
  } catch (const RuntimeError& e) {
    Q_EMIT error(e.Number(), QString::fromUtf8(e.what()));
    return {};
  }
}

bool ControlObject::set(const QString& property, const QVariant& value) {
  try {
    Set(property.toStdString().c_str(), value);
    return true;
  } catch (const RuntimeError& e) {
    Q_EMIT error(e.Number(), QString::fromUtf8(e.what()));
    return false;
  }
}

QVariant ControlObject::call(const QString& method, const QVariantList& args) {
  std::vector<Variant> values;
  for (const QVariant& a : args) values.push_back(FromQVariant(a));
  ArgList list;
  for (Variant& v : values) list.push_back(&v);
  try {
    return ToQVariant(control_->Invoke(method.toStdString(), list));
  } catch (const RuntimeError& e) {
    Q_EMIT error(e.Number(), QString::fromUtf8(e.what()));
    return {};
  }
}

void ControlObject::KeyChanged(const QString& key) {
  if (setting_ > 0) notified_.push_back(key);
  else Notify(key);
}

void ControlObject::Notify(const QString& property) {
  const QMetaObject* meta = metaObject();
  const int index = meta->indexOfProperty(property.toLatin1().constData());
  if (index < 0) return;
  QMetaProperty p = meta->property(index);
  if (!p.hasNotifySignal()) return;
  // The controls report every set, also one of the value they had: a NOTIFY for it would send
  // properties bound to each other back and forth for ever.
  const QString name = QString::fromLatin1(p.name());
  const std::optional<QVariant> now = Current(p.name());
  auto told = told_.find(name);
  if (now && told != told_.end() && told->second == *now) return;
  if (now) told_[name] = *now;
  else if (told != told_.end()) told_.erase(told);
  p.notifySignal().invoke(this, ::Qt::DirectConnection);
}

// The event's own signal: the signal of that name, its arguments converted to the types it
// declares.
// A slot may delete this wrapper (and its control), as Qt lets a slot delete its sender: then
// nothing more of the event is raised.
void ControlObject::Raised(const std::string& name, std::vector<Variant>& args) {
  QPointer<ControlObject> alive(this);
  for (std::size_t i = 0; i < listeners_.size(); ++i) {
    listeners_[i](name, args);
    if (!alive) return;
  }
  QVariantList list;
  for (const Variant& a : args) list.push_back(ToQVariant(a));
  const QString event = QString::fromStdString(name);
  Q_EMIT controlEvent(event, list);
  if (!alive) return;
  const QMetaObject* meta = metaObject();
  for (int m = meta->methodOffset(); m < meta->methodCount(); ++m) {
    QMetaMethod signal = meta->method(m);
    if (signal.methodType() != QMetaMethod::Signal || signal.name() != event.toLatin1()) continue;
    if (signal.parameterCount() > 10) return;
    // The names and values each argument points at live until the call is over.
    std::array<QVariant, 10> converted;
    std::array<QByteArray, 10> typeNames;
    std::array<QGenericArgument, 10> generic;
    for (int i = 0; i < signal.parameterCount(); ++i) {
      const auto k = static_cast<std::size_t>(i);
      converted[k] = i < list.size() ? list[i] : QVariant();
      if (!converted[k].convert(signal.parameterMetaType(i)))
        converted[k] = QVariant(signal.parameterMetaType(i), nullptr);
      typeNames[k] = signal.parameterTypeName(i);
      generic[k] = QGenericArgument(typeNames[k].constData(), converted[k].constData());
    }
    signal.invoke(this, ::Qt::DirectConnection, generic[0], generic[1], generic[2], generic[3], generic[4], generic[5],
                  generic[6], generic[7], generic[8], generic[9]);
    return;
  }
}

}  // namespace plc::qt

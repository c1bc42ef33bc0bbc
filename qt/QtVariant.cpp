#include "qt/QtVariant.h"

#include <QFont>
#include <QSequentialIterable>
#include <QStringList>
#include <limits>

#include "qt/QtComponentHost.h"

namespace plc::qt {

QVariant ToQVariant(const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty: return QVariant();
    case VarType::Int16:
    case VarType::Int32:
    case VarType::Byte: return QVariant(v.ToInt32());
    case VarType::Single: return QVariant(v.ToSingle());
    case VarType::Double: return QVariant(v.ToDouble());
    case VarType::Bool: return QVariant(v.ToBool());
    case VarType::String: {
      // Bytes that are no UTF-8 (a raw frame from ReceiveComm or CommEventModem) stay bytes:
      // read as text they would come out changed. toByteArray() gives the bytes either way.
      const std::string& text = v.ToString();
      const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
      if (!bytes.isValidUtf8()) return QVariant(bytes.toByteArray());
      return QVariant(QString::fromUtf8(bytes));
    }
    case VarType::Font: return QVariant(QFontOf(v.ToFont()));
    case VarType::Array: {
      QVariantList list;
      const VariantArray& a = v.Array();
      for (const Variant& element : a) list.push_back(ToQVariant(element));
      return list;
    }
  }
  return QVariant();
}

QVariant ToQVariantLike(const Variant& value, const QVariant& like) {
  const QMetaType type = like.metaType();
  const bool typedList = value.IsArray() && like.isValid() && type.id() != QMetaType::QVariantList &&
                         type.id() != QMetaType::QStringList &&
                         QMetaType::canView(type, QMetaType::fromType<QSequentialIterable>());
  if (!typedList) return ToQVariant(value);
  QVariant out(type);
  QSequentialIterable list = out.view<QSequentialIterable>();
  const QMetaType elementType = list.metaContainer().valueMetaType();
  for (const Variant& element : value.Array()) {
    QVariant e = ToQVariant(element);
    // An element the host's type cannot hold (an empty one, text in a QList<int>): the whole
    // array as a QVariantList rather than a value lost.
    if (!e.isValid() || !e.convert(elementType)) return ToQVariant(value);
    list.addValue(e);
  }
  return out;
}

Variant FromQVariant(const QVariant& q) {
  if (!q.isValid() || q.isNull()) return Variant();
  switch (q.metaType().id()) {
    case QMetaType::Bool: return Variant(q.toBool());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar: return Variant(static_cast<std::int32_t>(q.toInt()));
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong: {
      const double d = q.toDouble();
      if (d >= std::numeric_limits<std::int32_t>::min() && d <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(q.toLongLong()));
      return Variant(d);
    }
    case QMetaType::Float: return Variant(q.toFloat());
    case QMetaType::Double: return Variant(q.toDouble());
    case QMetaType::QString: return Variant(q.toString().toStdString());
    // Bytes as they are: read as UTF-8 text, those that are none would come out changed.
    case QMetaType::QByteArray: return Variant(q.toByteArray().toStdString());
    case QMetaType::QFont: return Variant(FontOf(q.value<QFont>()));
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
      const QVariantList list = q.toList();
      VariantArray a(1, static_cast<std::int32_t>(list.size()));
      for (qsizetype i = 0; i < list.size(); ++i) a.Set(static_cast<std::int32_t>(i + 1), FromQVariant(list[i]));
      return Variant(std::move(a));
    }
    default: break;
  }
  // A typed list (QList<short>, QList<double> ...) is an array as a QVariantList is.
  if (q.canConvert<QVariantList>()) return FromQVariant(QVariant(q.value<QVariantList>()));
  if (q.canConvert<double>()) return Variant(q.toDouble());
  return Variant(q.toString().toStdString());
}

}  // namespace plc::qt

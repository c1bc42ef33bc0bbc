#pragma once
// Values between the controls and Qt: plc::Variant to QVariant and back.
//
// Empty is an invalid QVariant; integers are int, single float, double double, Boolean bool,
// text QString (a QByteArray when its bytes are no UTF-8), a font QFont. An array becomes the QVariantList of its elements from its lower
// bound; a QVariantList (or QStringList, or a typed list such as QList<short>) becomes an array
// of variants from index 1, the bounds the controls' callers pass (ReadValue(1..n),
// ABValue(1..n)).
#include <QVariant>

#include "base/Variant.h"

namespace plc::qt {

QVariant ToQVariant(const Variant& value);
// As ToQVariant, but an array comes back as the typed list like holds (QList<int>, QList<double>
// ...), when each element converts to its type: what a by-reference argument gets back.
QVariant ToQVariantLike(const Variant& value, const QVariant& like);
Variant FromQVariant(const QVariant& value);

}  // namespace plc::qt

#include "tools/plcpanel/LiveTableModel.h"

#include <QBrush>
#include <QColor>

namespace plc::plcpanel {

LiveTableModel::LiveTableModel(screens::LiveTable& table, QObject* parent) : QAbstractTableModel(parent), table_(table) {
  table_.onRowChanged = [this](std::size_t row) {
    const int r = static_cast<int>(row);
    Q_EMIT dataChanged(index(r, Value), index(r, Status));
  };
  table_.onFailure = [this](const std::string& text) { Q_EMIT failure(QString::fromStdString(text)); };
}

int LiveTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(table_.Rows().size());
}

int LiveTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Columns; }

QVariant LiveTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const screens::LiveRow& row = table_.Rows()[static_cast<std::size_t>(index.row())];
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    switch (index.column()) {
      case Address: return QString::fromStdString(row.address);
      case Value: return QString::fromStdString(row.value);
      case Status:
        // The last failure stays in view while the row is read again.
        if (!row.failure.empty()) return QString::fromStdString(row.failure);
        if (row.value.empty()) return row.onLine ? tr("reading...") : QString();
        // A value read before is no live one while nothing is read, nor until it is read again.
        if (!notRead_.isEmpty()) return notRead_;
        return row.stale ? tr("not read since the port was closed (the value as last read)") : tr("ok");
    }
  }
  if (role == Qt::ForegroundRole && index.column() == Status &&
      (!row.failure.empty() || (!row.value.empty() && (!notRead_.isEmpty() || row.stale))))
    return QBrush(QColor(176, 0, 32));
  if (role == Qt::TextAlignmentRole && index.column() == Value)
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  if (role == Qt::ToolTipRole && index.column() == Value) return tr("Edit to write a value");
  return {};
}

QVariant LiveTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
    return QAbstractTableModel::headerData(section, orientation, role);
  switch (section) {
    case Address: return tr("Address");
    case Value: return tr("Value");
    case Status: return tr("Status");
  }
  return {};
}

Qt::ItemFlags LiveTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == Value) f |= Qt::ItemIsEditable;
  return f;
}

bool LiveTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() != Value) return false;
  std::string why;
  if (!table_.Edit(static_cast<std::size_t>(index.row()), value.toString().toStdString(), why)) {
    Q_EMIT failure(QString::fromStdString(table_.Rows()[static_cast<std::size_t>(index.row())].address + ": " + why));
    return false;
  }
  return true;
}

bool LiveTableModel::addRow(const QString& address, QString& why) {
  const std::string text = address.trimmed().toStdString();
  std::string reason;
  // The views hear of a row only once the table will take it.
  if (!screens::LiveTable::CheckAddress(text, reason)) {
    why = QString::fromStdString(reason);
    return false;
  }
  const int at = rowCount();
  beginInsertRows({}, at, at);
  const bool added = table_.AddRow(text, reason);
  endInsertRows();
  if (!added) why = QString::fromStdString(reason);
  return added;
}

void LiveTableModel::setNotRead(const QString& why) {
  // The values read so far stay old ones once rows are read again, until each is.
  if (!why.isEmpty()) table_.MarkStale();
  if (why == notRead_) return;
  notRead_ = why;
  if (rowCount() > 0) Q_EMIT dataChanged(index(0, Status), index(rowCount() - 1, Status));
}

void LiveTableModel::removeRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  table_.RemoveRow(static_cast<std::size_t>(row));
  endRemoveRows();
}

}  // namespace plc::plcpanel

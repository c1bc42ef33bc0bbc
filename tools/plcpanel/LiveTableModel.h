#pragma once
// The live table as Qt's item views see it: Address, Value (editable: an edit writes it) and
// Status (the latest failure's text, else "ok", or "reading..." before the first value; while
// nothing can be read, why, in place of the "ok" of a value read before, and after that, until
// the row is read again, that its value is an old one).
#include <QAbstractTableModel>

#include "screens/LiveTable.h"

namespace plc::plcpanel {

class LiveTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Address, Value, Status, Columns };

  explicit LiveTableModel(screens::LiveTable& table, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Adds a row; false with why.
  bool addRow(const QString& address, QString& why);
  void removeRow(int row);
  // Why no row is read now (the port is closed), or empty once rows are read again.
  void setNotRead(const QString& why);

 Q_SIGNALS:
  // An edit that could not be written (no number), or a read or write that failed.
  void failure(const QString& text);

 private:
  screens::LiveTable& table_;
  QString notRead_;
};

}  // namespace plc::plcpanel

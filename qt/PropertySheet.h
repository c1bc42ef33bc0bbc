#pragma once
// A settings dialog around a control's property page: OK applies and closes, Apply applies
// and stays (enabled once a field changed), Cancel closes and changes nothing. A refused
// property keeps the dialog open with its error shown.
#include <QDialog>
#include <QDialogButtonBox>

#include "base/Dispatch.h"
#include "qt/PropertyPageWidget.h"

namespace plc::qt {

class PropertySheet : public QDialog {
  Q_OBJECT

 public:
  // The page of the control's class (RtuLink, DfLink), for the control.
  PropertySheet(screens::PropertyPage page, Dispatch& control, QWidget* parent = nullptr);

  PropertyPageWidget* pageWidget() const { return page_; }
  QDialogButtonBox* buttons() const { return buttons_; }

 private:
  PropertyPageWidget* page_;
  QDialogButtonBox* buttons_;
};

}  // namespace plc::qt

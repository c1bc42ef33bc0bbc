#pragma once
// A control's property page as a widget a Qt host puts in its settings dialog: one labelled
// editor per field of the page model (a line edit, a check box or a list of the enumeration's
// labels), named after the field's box ("txtCommPort"). Typing marks the page changed; apply()
// assigns through the model and shows the refusal, if any, under the fields.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <vector>

#include "screens/PropertyPage.h"

namespace plc::qt {

class PropertyPageWidget : public QWidget {
  Q_OBJECT

 public:
  explicit PropertyPageWidget(screens::PropertyPage page, QWidget* parent = nullptr);

  screens::PropertyPage& page() { return page_; }
  // The host's selection: the page shows and edits the first control.
  void setSelection(const std::vector<Dispatch*>& controls);
  bool isChanged() const { return page_.Changed(); }
  // Applies the fields; false when a property refused its text (shown on the page).
  bool apply();
  // The editor of a box, for hosts and tests.
  QWidget* editor(const QString& box) const;
  QLabel* errorLabel() const { return error_; }

 Q_SIGNALS:
  // The person changed a field: the host offers to apply.
  void changed();
  void applyFailed(const QString& message);

 private:
  void Fill();
  void Typed(std::size_t field, const QString& text);

  screens::PropertyPage page_;
  std::vector<QWidget*> editors_;
  QLabel* error_;
};

}  // namespace plc::qt

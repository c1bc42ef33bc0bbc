#pragma once
// The view of dlgAbout: the caption, a picture, lblVersion, the product labels and the OK
// button (Command1), which unloads the form and closes the dialog.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

#include "screens/AboutBox.h"

namespace plc::qt {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  // The form stays the caller's; the dialog shows it and presses Command1 on OK.
  explicit AboutDialog(screens::AboutBox& form, QWidget* parent = nullptr);

  QLabel* versionLabel() const { return lblVersion_; }
  QPushButton* okButton() const { return command1_; }

 private:
  screens::AboutBox& form_;
  QLabel* lblVersion_;
  QPushButton* command1_;
};

}  // namespace plc::qt

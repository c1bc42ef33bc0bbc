#include "qt/PropertySheet.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace plc::qt {

PropertySheet::PropertySheet(screens::PropertyPage page, Dispatch& control, QWidget* parent)
    : QDialog(parent),
      page_(new PropertyPageWidget(std::move(page), this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this)) {
  setWindowTitle(tr("%1 Properties").arg(QString::fromStdString(control.ClassName())));
  page_->setSelection({&control});
  QPushButton* applyButton = buttons_->button(QDialogButtonBox::Apply);
  applyButton->setEnabled(false);
  connect(page_, &PropertyPageWidget::changed, applyButton, [applyButton] { applyButton->setEnabled(true); });
  connect(applyButton, &QPushButton::clicked, this, [this, applyButton] {
    if (page_->apply()) applyButton->setEnabled(false);
  });
  connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
    if (!page_->isChanged() || page_->apply()) accept();
  });
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* all = new QVBoxLayout(this);
  all->addWidget(page_);
  all->addWidget(buttons_);
}

}  // namespace plc::qt

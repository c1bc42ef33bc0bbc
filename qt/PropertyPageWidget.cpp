#include "qt/PropertyPageWidget.h"

#include <QFormLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "base/RuntimeError.h"

namespace plc::qt {

namespace {
// A check box's text: "True", "-1" or any number other than 0 is checked; nothing is not.
bool Checked(const std::string& text) {
  try {
    return !text.empty() && Variant(text).ToBool();
  } catch (const RuntimeError&) {
    return false;
  }
}
}  // namespace

PropertyPageWidget::PropertyPageWidget(screens::PropertyPage page, QWidget* parent)
    : QWidget(parent), page_(std::move(page)), error_(new QLabel(this)) {
  setObjectName(QString::fromStdString(page_.Name()));
  auto* form = new QFormLayout;
  const auto& fields = page_.Fields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const screens::PageField& f = fields[i];
    const QString box = QString::fromStdString(f.box);
    const QString label = QString::fromStdString(f.label);
    QWidget* editor = nullptr;
    switch (f.kind) {
      case screens::FieldKind::Text: {
        auto* line = new QLineEdit(this);
        connect(line, &QLineEdit::textEdited, this, [this, i](const QString& text) { Typed(i, text); });
        form->addRow(label, line);
        editor = line;
        break;
      }
      case screens::FieldKind::Check: {
        auto* check = new QCheckBox(label, this);
        connect(check, &QCheckBox::clicked, this,
                [this, i](bool on) { Typed(i, on ? QStringLiteral("True") : QStringLiteral("False")); });
        form->addRow(QString(), check);
        editor = check;
        break;
      }
      case screens::FieldKind::Choice: {
        auto* combo = new QComboBox(this);
        connect(combo, &QComboBox::activated, this,
                [this, i, combo](int index) { Typed(i, combo->itemData(index).toString()); });
        form->addRow(label, combo);
        editor = combo;
        break;
      }
    }
    editor->setObjectName(box);
    editors_.push_back(editor);
  }
  error_->setObjectName(QStringLiteral("lblError"));
  error_->setStyleSheet(QStringLiteral("color: #b00020"));
  error_->setWordWrap(true);
  error_->hide();
  auto* all = new QVBoxLayout(this);
  all->addLayout(form);
  all->addWidget(error_);
  all->addStretch();
  Fill();
}

QWidget* PropertyPageWidget::editor(const QString& box) const {
  auto field = page_.FieldOf(box.toStdString());
  return field ? editors_[*field] : nullptr;
}

void PropertyPageWidget::setSelection(const std::vector<Dispatch*>& controls) {
  page_.SelectionChanged(controls);
  error_->hide();
  Fill();
}

void PropertyPageWidget::Fill() {
  const auto& fields = page_.Fields();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const QString text = QString::fromStdString(page_.Text(i));
    QSignalBlocker quiet(editors_[i]);
    switch (fields[i].kind) {
      case screens::FieldKind::Text:
        static_cast<QLineEdit*>(editors_[i])->setText(text);
        break;
      case screens::FieldKind::Check:
        static_cast<QCheckBox*>(editors_[i])->setChecked(Checked(page_.Text(i)));
        break;
      case screens::FieldKind::Choice: {
        auto* combo = static_cast<QComboBox*>(editors_[i]);
        combo->clear();
        for (const EnumInfo::Value& v : page_.Choices(i))
          combo->addItem(QString::fromStdString(v.label) + QStringLiteral(" (%1)").arg(v.value),
                         QString::number(v.value));
        int at = combo->findData(text);
        if (at < 0 && !text.isEmpty()) {
          combo->addItem(text, text);  // a value the enumeration does not name
          at = combo->count() - 1;
        }
        combo->setCurrentIndex(at);
        break;
      }
    }
    editors_[i]->setEnabled(page_.Shown() != nullptr || fields[i].property.empty());
  }
}

void PropertyPageWidget::Typed(std::size_t field, const QString& text) {
  page_.Type(page_.Fields()[field].box, text.toStdString());
  Q_EMIT changed();
}

bool PropertyPageWidget::apply() {
  screens::ApplyOutcome outcome = page_.Apply();
  Fill();  // the applied fields as the control keeps them
  if (outcome.applied) {
    error_->hide();
    return true;
  }
  const QString message = QString::fromStdString(outcome.message);
  error_->setText(message);
  error_->show();
  if (QWidget* e = editor(QString::fromStdString(outcome.box))) e->setFocus();
  Q_EMIT applyFailed(message);
  return false;
}

}  // namespace plc::qt

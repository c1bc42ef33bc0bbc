#include "qt/AboutDialog.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

namespace plc::qt {

namespace {

// The picture: a PLC rack with its link, drawn here so the library carries no image files.
QPixmap Picture() {
  QPixmap pixmap(64, 64);
  pixmap.fill(::Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 60, 90), 2));
  p.setBrush(QColor(200, 210, 225));
  p.drawRoundedRect(6, 10, 40, 44, 4, 4);
  p.setBrush(QColor(60, 170, 90));
  for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(16, 22 + 12 * i), 3, 3);
  p.setBrush(QColor(230, 140, 40));
  for (int i = 0; i < 3; ++i) p.drawRect(26, 18 + 12 * i, 14, 7);
  p.setPen(QPen(QColor(40, 60, 90), 3));
  p.drawLine(46, 32, 58, 32);
  p.drawLine(58, 32, 58, 50);
  return pixmap;
}

}  // namespace

AboutDialog::AboutDialog(screens::AboutBox& form, QWidget* parent)
    : QDialog(parent), form_(form), lblVersion_(new QLabel(QString::fromStdString(form.VersionLabel()), this)),
      command1_(new QPushButton(tr("OK"), this)) {
  setObjectName(QStringLiteral("dlgAbout"));
  setWindowTitle(QString::fromStdString(form.Caption()));
  setModal(true);
  lblVersion_->setObjectName(QStringLiteral("lblVersion"));
  command1_->setObjectName(QStringLiteral("Command1"));
  command1_->setDefault(true);

  auto* picture = new QLabel(this);
  picture->setPixmap(Picture());
  picture->setAlignment(::Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  QFont bold = lblVersion_->font();
  bold.setBold(true);
  lblVersion_->setFont(bold);
  texts->addWidget(lblVersion_);
  for (const std::string& line : form.Labels()) {
    auto* label = new QLabel(QString::fromStdString(line), this);
    label->setWordWrap(true);
    texts->addWidget(label);
  }
  texts->addStretch();
  auto* body = new QHBoxLayout;
  body->addWidget(picture);
  body->addLayout(texts, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(command1_);
  auto* all = new QVBoxLayout(this);
  all->addLayout(body);
  all->addLayout(buttons);
  setMinimumWidth(360);

  connect(command1_, &QPushButton::clicked, this, [this] {
    form_.Command1();
    accept();
  });
}

}  // namespace plc::qt

#include "qt/QtComponentHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QtDebug>

#include "frame/AboutBox.h"
#include "qt/AboutDialog.h"
#include "screens/AboutBox.h"

namespace plc::qt {

Font FontOf(const QFont& font) {
  Font f;
  f.name = font.family().toStdString();
  f.size = font.pointSizeF() > 0 ? font.pointSizeF() : f.size;
  f.bold = font.bold();
  f.italic = font.italic();
  return f;
}

QFont QFontOf(const Font& font) {
  QFont f(QString::fromStdString(font.name));
  f.setPointSizeF(font.size);
  f.setBold(font.bold);
  f.setItalic(font.italic);
  return f;
}

QtComponentHost::QtComponentHost(QObject* parent) : QObject(parent) {}

bool QtComponentHost::HasDisplay() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

Font QtComponentHost::AmbientFont() const {
  if (font_) return FontOf(*font_);
  if (HasDisplay()) return FontOf(QApplication::font());
  return Font{};
}

void QtComponentHost::PropertyChanged(const std::string& key) { Q_EMIT propertyChanged(QString::fromStdString(key)); }

void QtComponentHost::ShowModal(const DialogRequest& dialog) {
  QStringList texts{QString::fromStdString(dialog.title)};
  for (const std::string& line : dialog.lines) texts << QString::fromStdString(line);
  Q_EMIT dialogTexts(texts);
  if (!HasDisplay()) {
    qInfo().noquote() << texts.join(QStringLiteral("\n"));
    return;
  }
  QWidget* parent = dialogParent_ ? dialogParent_.data() : QApplication::activeWindow();
  if (dialog.form == kAboutForm) {
    screens::AboutBox about(dialog);
    AboutDialog view(about, parent);
    view.exec();
    return;
  }
  QMessageBox box(QMessageBox::Information, texts.front(), texts.mid(1).join(QStringLiteral("\n")), QMessageBox::Ok,
                  parent);
  box.exec();
}

}  // namespace plc::qt

#include "tools/plcpanel/Screenshots.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <iostream>

#include "qt/AboutDialog.h"
#include "qt/CcmRequestDialog.h"
#include "qt/PropertySheet.h"
#include "screens/PropertyPage.h"

namespace plc::plcpanel {

namespace {

constexpr std::int64_t kSettleMicros = 400'000;  // for the window system to paint what was shown

void Settle() { EventLoop::Current().RunFor(kSettleMicros); }

// The window's caption above its contents: a virtual display has no window manager to draw it.
QPixmap WithCaption(const QPixmap& contents, const QString& caption) {
  constexpr int kBar = 26;
  QPixmap framed(contents.width() + 2, contents.height() + kBar + 1);
  framed.fill(QColor(64, 76, 94));
  QPainter p(&framed);
  QFont bold = QApplication::font();
  bold.setBold(true);
  p.setFont(bold);
  p.setPen(::Qt::white);
  p.drawText(QRect(10, 0, framed.width() - 20, kBar), ::Qt::AlignVCenter | ::Qt::AlignLeft, caption);
  p.drawPixmap(1, kBar, contents);
  return framed;
}

// From the screen where there is one (X11, Xvfb): what a person would see; else the widget
// drawn into a picture.
bool Grab(QWidget* widget, const QString& file) {
  QPixmap shot;
  if (QGuiApplication::platformName() == QLatin1String("xcb") && widget->screen())
    shot = widget->screen()->grabWindow(widget->winId());
  if (shot.isNull()) shot = widget->grab();
  const bool saved = WithCaption(shot, widget->windowTitle()).save(file);
  std::cout << (saved ? "saved " : "could not save ") << file.toStdString() << "\n";
  return saved;
}

}  // namespace

int TakeScreenshots(PanelWindow& window, const QString& folder) {
  QDir().mkpath(folder);
  QDir dir(folder);
  bool all = true;
  const QString name = window.object().className().toLower();

  // The panel, once every row has a value or a failure.
  EventLoop& loop = EventLoop::Current();
  loop.WaitUntil(
      [&window] {
        for (const screens::LiveRow& r : window.table().Rows())
          if (r.value.empty() && r.failure.empty()) return false;
        return true;
      },
      loop.Now() + 10'000'000);
  Settle();
  all &= Grab(&window, dir.filePath(QStringLiteral("panel-%1.png").arg(name)));

  if (auto page = screens::PropertyPageFor(window.control().ClassName())) {
    const QString file = dir.filePath(QString::fromStdString(page->Name()).toLower() + QStringLiteral(".png"));
    qt::PropertySheet sheet(std::move(*page), window.control(), &window);
    sheet.show();
    Settle();
    all &= Grab(&sheet, file);
    sheet.close();
  }

  // The About box is modal: taken from inside its own loop, then closed with its OK button.
  bool about = false;
  QTimer::singleShot(kSettleMicros / 1000, &window, [&] {
    if (auto* dialog = qobject_cast<qt::AboutDialog*>(QApplication::activeModalWidget())) {
      about = Grab(dialog, dir.filePath(QStringLiteral("about-%1.png").arg(name)));
      dialog->okButton()->click();
    }
  });
  window.showAbout();
  all &= about;

  if (name == QLatin1String("udplink")) {
    qt::CcmRequestDialog ccm({}, &window);
    ccm.findChild<QLineEdit*>(QStringLiteral("txtAddress"))->setText(QStringLiteral("0400"));
    ccm.findChild<QLineEdit*>(QStringLiteral("txtSize"))->setText(QStringLiteral("8"));
    ccm.show();
    ccm.doRequest();
    loop.WaitUntil([&ccm] { return !ccm.running(); }, loop.Now() + 10'000'000);
    Settle();
    all &= Grab(&ccm, dir.filePath(QStringLiteral("ccm-request.png")));
  }
  return all ? 0 : 1;
}

}  // namespace plc::plcpanel

#pragma once
// plcpanel --screenshots DIR: pictures of the panel and its dialogs for the documentation,
// taken from the display (under Xvfb by scripts/screenshots.sh): the panel once its values are
// in, the control's property page, its About box and, for udplink, the CCM request window after
// a read. Returns the exit status: 0 when every picture was saved.
#include <QString>

#include "tools/plcpanel/PanelWindow.h"

namespace plc::plcpanel {

int TakeScreenshots(PanelWindow& window, const QString& folder);

}  // namespace plc::plcpanel

#include "tools/plcpanel/PanelOptions.h"

#include <cctype>

namespace plc::plcpanel {

PanelOptions ParsePanelOptions(const std::vector<std::string>& args) {
  if (args.empty()) throw plclink::UsageError("no control given (rtulink, seqlink, DfLink or udplink)");
  PanelOptions p;
  // The command first: an option left without its value is then said to need one.
  std::vector<std::string> forPlclink{args[0], "members"};
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    // As plclink reads it: a dash and a digit or a point is a number, not an option.
    const bool option = !optionsEnded && a.size() > 1 && a[0] == '-' &&
                        !std::isdigit(static_cast<unsigned char>(a[1])) && a[1] != '.';
    if (!option) {
      p.addresses.push_back(a);
      continue;
    }
    auto value = [&]() {
      if (i + 1 >= args.size()) throw plclink::UsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--interval" || a == "-l") {
      std::string v = value();
      auto ms = plclink::ParseWholeNumber(v);
      if (!ms || *ms < 10 || *ms > 86'400'000)
        throw plclink::UsageError("--interval wants milliseconds from 10 to 86400000, not '" + v + "'");
      p.intervalMs = static_cast<int>(*ms);
    } else if (a == "--screenshots") {
      p.screenshots = value();
    } else {
      forPlclink.push_back(a);
      const bool inlineValue = a.find('=') != std::string::npos || (a[1] != '-' && a.size() > 2);  // -p/dev/x
      // plclink's parser judges the option itself: unknown, or missing its value.
      if (plclink::TakesValue(a) && !inlineValue && i + 1 < args.size()) forPlclink.push_back(args[++i]);
    }
  }
  p.control = plclink::ParseCommandLine(forPlclink);
  return p;
}

std::string PanelUsage() {
  return "usage: plcpanel CONTROL [options] [--interval MS] [--screenshots DIR] [ADDRESS...]\n\n"
         "An operator panel for one control: a table of addresses with live values (non-waiting\n"
         "reads every MS milliseconds, 1000 by default, one request on the line at a time), a\n"
         "value written by editing its cell, each failure's text, the property page, the About\n"
         "box and, for udplink, the CCM request window from the menus.\n\n"
         "CONTROL and its options are those of plclink (plclink --help): -p/--port, --settings,\n"
         "-b/-P/-d/-s, -m/--mode, -a/--address, --plc-type, --rs485, --node, --prop NAME=VALUE,\n"
         "--bag FILE [--section NAME] to restore the control from a document (File > Save writes it\n"
         "back).\n"
         "  --screenshots DIR   save pictures of the panel and its dialogs into DIR and quit\n";
}

}  // namespace plc::plcpanel

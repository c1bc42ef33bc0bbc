#include "tools/plclink/Output.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <ostream>

#include <nlohmann/json.hpp>

#include "base/ResultCodes.h"
#include "tools/plclink/ValueText.h"

namespace plc::plclink {

namespace {

template <class Json = nlohmann::json>
std::string Dump(const Json& j) {
  // Text from the line may be any bytes: replace what is not UTF-8 rather than fail.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// How many elements of an event's array are worth showing: its count argument, when it has
// one (quan, Mquan), from index 1; else all.
long ShownElements(const std::vector<Variant>& args, const std::vector<ParamInfo>& params) {
  for (std::size_t i = 0; i < params.size() && i < args.size(); ++i) {
    std::string name = params[i].name;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name.find("quan") != std::string::npos && args[i].IsNumeric()) return std::max<long>(0, args[i].ToInt32());
  }
  return -1;
}

std::string ShownArray(const Variant& value, long count) {
  const VariantArray& a = value.Array();
  if (count < 0 || !a.Contains(1)) return ToText(value, 32);
  std::string out = "[";
  for (std::int32_t i = 1; i <= count && a.Contains(i); ++i) out += (i == 1 ? "" : ", ") + ToText(a.Get(i));
  return out + "]";
}

// An EnType2 float as the real it holds (null for a pattern that is no number), else the value.
nlohmann::json ServedValuesJson(const ServedRequest& r) {
  nlohmann::json values = nlohmann::json::array();
  for (std::int32_t v : r.values) {
    if (!r.floats) {
      values.push_back(v);
    } else if (std::optional<double> real = FloatOf(v)) {
      values.push_back(*real);
    } else {
      values.push_back(nullptr);
    }
  }
  return values;
}

}  // namespace

std::int64_t WallMicrosNow() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

std::string IsoTime(std::int64_t wallMicros) {
  std::time_t seconds = static_cast<std::time_t>(wallMicros / 1'000'000);
  long micros = static_cast<long>(wallMicros % 1'000'000);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char head[32], zone[8], text[64];
  std::strftime(head, sizeof head, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +0200
  std::snprintf(text, sizeof text, "%s.%06ld%.3s:%.2s", head, micros, zone, zone + 3);
  return text;
}

void Output::Transfer(std::int32_t result, const std::vector<Variant>& values, const std::string& errors,
                      const std::string& cause) {
  if (json_) {
    nlohmann::json list = nlohmann::json::array();
    for (const Variant& v : values) list.push_back(ToJson(v));
    nlohmann::ordered_json line{{"result", result}, {"ok", result == ResultOk}};
    line["values"] = list;
    line["errors"] = errors;
    if (result != ResultOk) line["cause"] = cause;
    out_ << Dump(line) << std::endl;
    return;
  }
  if (values.empty()) return;
  for (std::size_t i = 0; i < values.size(); ++i) out_ << (i ? " " : "") << ToText(values[i]);
  out_ << std::endl;
}

void Output::Call(const Variant& result, const std::vector<Variant>& args, const std::string& cause) {
  if (json_) {
    nlohmann::json list = nlohmann::json::array();
    for (const Variant& v : args) list.push_back(ToJson(v));
    nlohmann::ordered_json line{{"result", ToJson(result)}, {"args", list}};
    if (!cause.empty()) line["cause"] = cause;
    out_ << Dump(line) << std::endl;
    return;
  }
  out_ << "result: " << ToText(result) << "\n";
  for (std::size_t i = 0; i < args.size(); ++i) out_ << "arg " << i + 1 << ": " << ToText(args[i]) << "\n";
  out_.flush();
}

void Output::Event(const std::string& name, const std::vector<Variant>& args, const std::vector<ParamInfo>& params,
                   std::int64_t wallMicros) {
  if (json_) {
    // Each argument under its declared name; an array from its first element, or as far as
    // the event's count reaches (a data buffer is a few values in hundreds of unset ones).
    long shown = ShownElements(args, params);
    nlohmann::ordered_json line{{"event", name}};
    for (std::size_t i = 0; i < args.size(); ++i) {
      std::string key = i < params.size() && !params[i].name.empty() ? params[i].name : "arg" + std::to_string(i + 1);
      nlohmann::json j;
      if (args[i].IsArray() && shown >= 0 && args[i].Array().Contains(1)) {
        j = nlohmann::json::array();
        const VariantArray& a = args[i].Array();
        for (std::int32_t k = 1; k <= shown && a.Contains(k); ++k) j.push_back(ToJson(a[k]));
      } else {
        j = ToJson(args[i]);
        while (args[i].IsArray() && !j.empty() && j.back().is_null()) j.erase(j.size() - 1);
      }
      line[key] = std::move(j);
    }
    line["time"] = IsoTime(wallMicros);
    out_ << Dump(line) << std::endl;
    return;
  }
  long shown = ShownElements(args, params);
  out_ << IsoTime(wallMicros) << " " << name;
  for (std::size_t i = 0; i < args.size(); ++i) {
    out_ << " " << (i < params.size() && !params[i].name.empty() ? params[i].name : "arg" + std::to_string(i + 1))
         << "=" << (args[i].IsArray() ? ShownArray(args[i], shown) : ToText(args[i]));
  }
  out_ << std::endl;
}

void Output::Served(const ServedRequest& r, std::int64_t wallMicros) {
  if (json_) {
    nlohmann::ordered_json line{{"served", r.problem.empty() ? (r.write ? "write" : "read") : "none"},
                        {"unit", r.unit},
                        {"function", r.function},
                        {"table", r.table},
                        {"first", r.first},
                        {"count", r.count},
                        {"values", ServedValuesJson(r)},
                        {"answered", r.answered},
                        {"exception", r.exception ? nlohmann::json(*r.exception) : nlohmann::json()},
                        {"time", IsoTime(wallMicros)}};
    if (!r.problem.empty()) line["problem"] = r.problem;
    out_ << Dump(line) << std::endl;
    return;
  }
  out_ << IsoTime(wallMicros) << " " << Describe(r) << std::endl;
}

std::string Signature(const MemberInfo& m) {
  std::string text = m.name + "(";
  for (std::size_t i = 0; i < m.params.size(); ++i) {
    const ParamInfo& p = m.params[i];
    text += std::string(i ? ", " : "") + (p.optional ? "Optional " : "") + (p.byRef ? "" : "ByVal ") + p.name +
            " As " + (p.enumeration.name.empty() ? p.type : p.enumeration.name);
  }
  return text + ")";
}

bool FormOnly(const MemberInfo& m) {
  static const char* const kEvents[] = {"Click", "DblClick", "KeyDown", "KeyPress", "KeyUp", "MouseDown",
                                        "MouseMove", "MouseUp", "Resize", "InitProperties", "ReadProperties"};
  static const char* const kMethods[] = {"Refresh", "Size", "ShowAboutBox", "AboutBox", "EditScanDatabase"};
  if (m.kind == MemberKind::Event) {
    for (const char* e : kEvents)
      if (NamesEqual(m.name, e)) return true;
  } else if (m.kind == MemberKind::Method) {
    for (const char* f : kMethods)
      if (NamesEqual(m.name, f)) return true;
  }
  return false;
}

void Output::Property(const std::string& name, const Variant& value) {
  if (json_) {
    out_ << Dump({{"name", name}, {"value", ToJson(value)}}) << std::endl;
    return;
  }
  out_ << ToText(value) << std::endl;
}

void Output::Members(const std::string& className, const std::vector<MemberInfo>& members) {
  auto enumText = [](const EnumInfo& e) {
    std::string text = e.name + " {";
    for (std::size_t i = 0; i < e.values.size(); ++i)
      text += (i ? ", " : "") + e.values[i].label + "=" + std::to_string(e.values[i].value);
    return text + "}";
  };
  if (json_) {
    for (const MemberInfo& m : members) {
      nlohmann::json params = nlohmann::json::array();
      for (const ParamInfo& p : m.params) {
        nlohmann::json param{{"name", p.name}, {"type", p.type}, {"byRef", p.byRef}, {"optional", p.optional}};
        if (!p.enumeration.name.empty()) param["enum"] = p.enumeration.name;
        params.push_back(param);
      }
      nlohmann::json line{{"member", m.name}, {"kind", KindName(m.kind)}, {"params", params}, {"type", m.result},
                          {"formOnly", FormOnly(m)}};
      if (m.kind == MemberKind::Property) {
        line["readable"] = m.readable;
        line["writable"] = m.writable;
      }
      if (!m.enumeration.name.empty()) {
        nlohmann::json values = nlohmann::json::object();
        for (const EnumInfo::Value& v : m.enumeration.values) values[v.label] = v.value;
        line["enum"] = {{"name", m.enumeration.name}, {"values", values}};
      }
      out_ << Dump(line) << "\n";
    }
    out_.flush();
    return;
  }
  out_ << className << "\n";
  std::vector<const MemberInfo*> ordered;
  for (const MemberInfo& m : members)
    if (!FormOnly(m)) ordered.push_back(&m);
  const std::size_t usable = ordered.size();
  for (const MemberInfo& m : members)
    if (FormOnly(m)) ordered.push_back(&m);
  for (std::size_t k = 0; k < ordered.size(); ++k) {
    const MemberInfo& m = *ordered[k];
    if (k == usable) out_ << "form-only (used by a host with a window; plclink has none):\n";
    out_ << "  " << KindName(m.kind) << " " << m.name;
    if (m.kind != MemberKind::Property) out_ << Signature(m).substr(m.name.size());
    if (!m.result.empty()) out_ << " As " << m.result;
    if (m.kind == MemberKind::Property && !m.writable) out_ << " (read-only)";
    if (!m.enumeration.name.empty()) out_ << "  " << enumText(m.enumeration);
    out_ << "\n";
  }
  out_.flush();
}

void Output::LostReply(const std::string& method, const std::string& address, const std::string& errors,
                       const std::string& cause, std::int64_t wallMicros) {
  if (json_) {
    nlohmann::ordered_json j{{"lost", method}, {"address", address}, {"errors", errors}};
    if (!cause.empty()) j["cause"] = cause;
    j["time"] = IsoTime(wallMicros);
    out_ << Dump(j) << std::endl;
    return;
  }
  out_ << IsoTime(wallMicros) << " " << method << " " << address << (cause.empty() ? ": no reply" : ": failed")
       << (errors.empty() ? std::string() : " (" + errors + ")") << std::endl;
}

void Output::Notice(const std::string& text) { out_ << text << std::endl; }

}  // namespace plc::plclink

// Writes the typed C++ header of each control (plclink/RtuLink.h, SeqLink.h, DfLink.h,
// UdpLink.h) from the member table the control itself gives, so that a header never disagrees
// with its plug-in. Run at build time:
//   plclink_header_generator OUTPUT_FOLDER CONTROL...
// Each control is loaded by name as a host would load it.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/MemberTable.h"

namespace {

using plc::MemberInfo;
using plc::MemberKind;
using plc::ParamInfo;
using plc::gen::ParamName;
using plc::gen::TypeWord;

// The C++ type of an interface type word, and how a Variant turns into it.
struct CppType {
  std::string name;
  std::string from;  // member of plc::Variant that converts; empty: the Variant itself
  bool array = false;
};

CppType TypeOf(const std::string& word) {
  switch (plc::gen::WordOf(word)) {
    case TypeWord::Integer: return {"std::int16_t", "ToInt16"};
    case TypeWord::Long: return {"std::int32_t", "ToInt32"};
    case TypeWord::Single: return {"float", "ToSingle"};
    case TypeWord::Double: return {"double", "ToDouble"};
    case TypeWord::Boolean: return {"bool", "ToBool"};
    case TypeWord::String: return {"std::string", "ToString"};
    case TypeWord::Array: return {"plc::VariantArray", "", true};
    case TypeWord::Variant: break;
  }
  return {"plc::Variant", ""};
}

std::string Converted(const std::string& expression, const CppType& t) {
  return t.from.empty() ? expression : expression + "." + t.from + "()";
}

// What a method's comment says beyond its parameters, where the behaviour is worth a line.
std::string MethodNote(const std::string& className, const std::string& method) {
  bool transfer = method == "ReadPLC" || method == "ReadPLCNW" || method == "WritePLC" || method == "ReadDevice" ||
                  method == "WritePLCBit" || method == "ReadPLCValue" || method == "ReadPLCV" || method == "ABReadPLC";
  if (!transfer) return {};
  std::string note =
      "  // Returns the control's result code (plc::ResultOk is -1) and never throws for a\n"
      "  // communication problem; after a failure FailureCause() says why.\n";
  if (className == "RtuLink" && (method == "ReadPLC" || method == "WritePLC")) {
    note += method == "ReadPLC"
                ? "  // The values land in elements 1..n of ReadValue (n = ReadSize, halved for ioFloat): size\n"
                  "  // the array from 1, or from 0 with one element more; one that cannot take them all makes\n"
                  "  // the call return 0 with a cause naming its bounds.\n"
                : "  // The values are taken from element 1 on (from the lower bound when the array has no\n"
                  "  // element 1).\n";
  }
  return note;
}

// One wrapper of a method. Every by-reference parameter is a reference that sees what the
// control wrote back, except, in the value form (faithful false), the first: the address or
// the value a conversion takes, which a caller writes as a literal ("V,2000", 1.5f). Only the
// first: a later one may be where the control puts what it read, and a copy would lose it.
std::string Method(const MemberInfo& m, bool faithful) {
  std::ostringstream decl, body;
  CppType result = m.result.empty() ? CppType{"void", ""} : TypeOf(m.result);
  decl << "  " << result.name << " " << m.name << "(";
  std::vector<std::string> slots;
  std::string restore, restoreAfter, writeBack;
  for (std::size_t i = 0; i < m.params.size(); ++i) {
    const ParamInfo& p = m.params[i];
    CppType t = TypeOf(p.type);
    std::string name = ParamName(p, i);
    std::string slot = "a" + std::to_string(i);
    if (i) decl << ", ";
    if (p.optional) {
      // By reference like the rest: a variable given sees what the control wrote into it.
      decl << "plclink::OptionalArg<" << t.name << "> " << name << " = std::nullopt";
      body << "    plc::Variant " << slot << ";\n"
           << "    if (" << name << ".Given()) " << slot << " = plc::Variant(" << name << ".Value());\n";
      slots.push_back(name + ".Given() ? &" + slot + " : nullptr");
      writeBack += "    if (" + name + ".Given()) " + name + ".Put(" + Converted(slot, t) + ");\n";
      continue;
    }
    if (t.array) {
      decl << "plc::VariantArray& " << name;
      body << "    plc::Variant " << slot << "(std::move(" << name << "));\n";
      std::string line = "if (" + slot + ".IsArray()) " + name + " = std::move(" + slot + ".Array());\n";
      restore += "      " + line;
      restoreAfter += "    " + line;
    } else if (p.byRef && (faithful || i > 0)) {
      decl << t.name << "& " << name;
      if (t.from.empty()) {
        slots.push_back("&" + name);
        continue;
      }
      body << "    plc::Variant " << slot << "(" << name << ");\n";
      writeBack += "    " + name + " = " + Converted(slot, t) + ";\n";
    } else {
      decl << (p.byRef ? "const " + t.name + "& " : t.name + " ") << name;
      body << "    plc::Variant " << slot << "(" << name << ");\n";
    }
    slots.push_back("&" + slot);
  }
  decl << ") {\n";
  std::string list;
  for (const std::string& s : slots) list += (list.empty() ? "" : ", ") + s;
  body << "    plc::Variant result;\n"
       << "    try {\n"
       << "      result = control_->Invoke(\"" << m.name << "\", {" << list << "});\n"
       << "    } catch (...) {\n"
       << restore << "      throw;\n"
       << "    }\n"
       << restoreAfter << writeBack;
  if (result.name != "void") body << "    return " << Converted("result", result) << ";\n";
  return decl.str() + body.str() + "  }\n";
}

// A value form differs from the faithful one where the first parameter is by reference.
bool HasValueForm(const MemberInfo& m) {
  if (m.params.empty()) return false;
  const ParamInfo& first = m.params.front();
  return !first.optional && first.byRef && !TypeOf(first.type).array;
}

std::string EnumComment(const plc::EnumInfo& e) {
  std::string text, line = "  // " + e.name + ":";
  for (std::size_t i = 0; i < e.values.size(); ++i) {
    std::string item = " " + e.values[i].label + " = " + std::to_string(e.values[i].value) + (i + 1 < e.values.size() ? "," : "");
    if (line.size() + item.size() > 100) {
      text += line + "\n";
      line = "  //  ";
    }
    line += item;
  }
  return text + line + "\n";
}

// An address of the control's own kind, for the header's comment.
const char* ExampleAddress(const std::string& className) {
  if (className == "RtuLink") return "40001";
  if (className == "DfLink") return "N7:0";
  return "V,2000";
}

std::string Header(const std::string& className, const std::vector<MemberInfo>& members) {
  std::ostringstream h;
  h << "#pragma once\n"
       "// "
    << className
    << " for C++ hosts, with typed members. Generated at build time from the member table of\n"
       "// the control's own plug-in (which this class loads by name, beside libplcbase or on\n"
       "// QVL_PLUGIN_PATH); only the control interface and Variant cross the library boundary.\n"
       "// Control() gives every member by name as well.\n"
       "//\n"
       "// By-reference parameters are references and see what the control wrote back (the values a\n"
       "// read returns among them). Where the first parameter is by reference, a second form takes it\n"
       "// as a value, so that an address or a value to convert can be a literal\n"
       "// (ReadPLC(\""
    << ExampleAddress(className)
    << "\", values, 2)). An optional parameter left as std::nullopt is omitted; one given as a\n"
       "// variable of its own type is by reference too.\n"
       "// Properties throw plc::RuntimeError for a refused value.\n"
       "#include <cstdint>\n#include <optional>\n#include <string>\n#include <utility>\n\n"
       "#include \"plclink/PlcLink.h\"\n\n"
       "namespace plclink {\n\n"
       "class "
    << className << " {\n public:\n"
    << "  // Creates a new control (Initialize, InitProperties, Show) in `host`, or in a standalone\n"
       "  // run-mode host of its own when none is given.\n"
       "  explicit "
    << className << "(plc::ComponentHost* host = nullptr) : control_(plc::PluginControl::Load(\"" << className
    << "\")) {\n"
       "    control_->SetHost(host);\n"
       "    control_->Initialize();\n"
       "    control_->InitProperties();\n"
       "    control_->Show();\n"
       "  }\n"
       "  ~"
    << className
    << "() {\n"
       "    try {\n"
       "      if (control_->GetProperty(\"PortOpen\").ToBool()) control_->SetProperty(\"PortOpen\", false);\n"
       "    } catch (const plc::RuntimeError&) {\n"
       "      // Closing is best effort when the host goes away.\n"
       "    }\n"
       "  }\n  "
    << className << "(const " << className << "&) = delete;\n  " << className << "& operator=(const " << className
    << "&) = delete;\n\n"
       "  plc::Control& Control() { return *control_; }\n"
       "  // Why the last read or write failed; empty after a success.\n"
       "  const std::string& FailureCause() const { return control_->FailureCause(); }\n"
       "  // Every event, raised on this thread's event loop with its arguments by reference.\n"
       "  void OnEvent(plc::EventSink sink) { control_->SetEventSink(std::move(sink)); }\n";

  h << "\n  // Properties.\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Property) continue;
    CppType t = TypeOf(m.result);
    if (!m.enumeration.name.empty()) h << EnumComment(m.enumeration);
    if (m.readable) h << "  " << t.name << " " << m.name << "() { return " << Converted("control_->GetProperty(\"" + m.name + "\")", t) << "; }\n";
    if (m.writable)
      h << "  void Set" << m.name << "(" << (t.from == "ToString" || t.from.empty() ? "const " + t.name + "&" : t.name)
        << " value) { control_->SetProperty(\"" << m.name << "\", plc::Variant(value)); }\n";
  }
  h << "\n  // Methods.\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Method) continue;
    h << MethodNote(className, m.name);
    for (const ParamInfo& p : m.params)
      if (!p.enumeration.name.empty()) h << EnumComment(p.enumeration);
    h << Method(m, true);
    if (HasValueForm(m)) h << Method(m, false);
  }
  h << "\n  // Events (OnEvent receives them by name):\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Event) continue;
    h << "  //   " << m.name << "(";
    for (std::size_t i = 0; i < m.params.size(); ++i) h << (i ? ", " : "") << m.params[i].name << " " << m.params[i].type;
    h << ")\n";
  }
  h << "\n private:\n  plc::PluginControl control_;\n};\n\n}  // namespace plclink\n";
  return h.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: plclink_header_generator OUTPUT_FOLDER CONTROL...\n";
    return 2;
  }
  for (int i = 2; i < argc; ++i) {
    plc::PluginControl control = plc::gen::LoadOrExit("plclink_header_generator", argv[i]);
    const std::string className = control->ClassName();
    const std::string path = std::string(argv[1]) + "/" + className + ".h";
    std::string text = Header(className, control->Members());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
      std::cerr << "plclink_header_generator: cannot write " << path << "\n";
      return 1;
    }
  }
  return 0;
}

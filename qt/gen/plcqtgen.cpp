// plcqtgen: writes the Qt wrapper of a control from the control's own member table, so that
// the four wrappers follow the controls without being written by hand. The build runs it on
// each plug-in and moc runs on what it writes.
//
//   plcqtgen PLUGIN LIBRARY OUTPUT
//
// PLUGIN is the plug-in's path, LIBRARY the name a host loads it by (rtulink), OUTPUT the
// header to write (RtuLinkObject.h); it is rewritten only when its text changes.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/MemberTable.h"

namespace {

using plc::EnumInfo;
using plc::MemberInfo;
using plc::MemberKind;
using plc::ParamInfo;
using plc::gen::TypeWord;

const std::set<std::string> kCppWords = {"and", "auto", "bool", "break", "case", "catch", "char", "class", "const",
                                         "default", "delete", "do", "double", "else", "enum", "explicit", "float",
                                         "for", "friend", "goto", "if", "int", "long", "new", "not", "operator",
                                         "or", "private", "protected", "public", "register", "return", "short",
                                         "signed", "sizeof", "static", "struct", "switch", "template", "this",
                                         "throw", "try", "typedef", "union", "unsigned", "using", "virtual", "void",
                                         "volatile", "while", "signals", "slots", "emit"};

// ControlObject's own members, which a generated member must not hide.
const std::set<std::string> kBaseNames = {"Get", "Set", "Call", "In", "Ref", "Opt", "Arg", "get", "set", "call",
                                          "control", "host", "className", "failureCause", "save", "error",
                                          "controlEvent", "addEventListener"};

std::string Safe(const std::string& name) { return kCppWords.count(name) ? name + "_" : name; }

// The Qt type of a property, a parameter or a method's result: an enumeration as its Q_ENUM, an
// array as the QVariant that holds it.
std::string ValueType(const std::string& type, const EnumInfo& enumeration) {
  if (!enumeration.name.empty()) return enumeration.name;
  switch (plc::gen::WordOf(type)) {
    case TypeWord::Integer:
    case TypeWord::Long: return "int";
    case TypeWord::Single: return "float";
    case TypeWord::Double: return "double";
    case TypeWord::Boolean: return "bool";
    case TypeWord::String: return "QString";
    case TypeWord::Array:
    case TypeWord::Variant: break;
  }
  return "QVariant";
}

// From the QVariant that Get or Call returns.
std::string FromVariant(const std::string& qtType, const std::string& expr) {
  if (qtType == "int") return expr + ".toInt()";
  if (qtType == "float") return expr + ".toFloat()";
  if (qtType == "double") return expr + ".toDouble()";
  if (qtType == "bool") return expr + ".toBool()";
  if (qtType == "QString") return expr + ".toString()";
  if (qtType == "QVariant") return expr;
  return "static_cast<" + qtType + ">(" + expr + ".toInt())";  // an enumeration
}

std::string ToVariant(const std::string& qtType, const std::string& expr) {
  if (qtType == "int" || qtType == "float" || qtType == "double" || qtType == "bool" || qtType == "QString" ||
      qtType == "QVariant")
    return "QVariant(" + expr + ")";
  return "QVariant(static_cast<int>(" + expr + "))";
}

std::string ParamDecl(const std::string& qtType, const std::string& name) {
  if (qtType == "QString" || qtType == "QVariant" || qtType == "QVariantList") return "const " + qtType + "& " + name;
  return qtType + " " + name;
}

// The type of an event argument: arrays as lists.
std::string EventType(const std::string& type) {
  return plc::gen::WordOf(type) == TypeWord::Array ? "QVariantList" : ValueType(type, {});
}

[[noreturn]] void Fail(const std::string& what) {
  std::cerr << "plcqtgen: " << what << "\n";
  std::exit(1);
}

std::string Generate(const plc::Control& control, const std::string& library) {
  const std::string className = control.ClassName();
  const std::string wrapper = className + "Object";
  const std::vector<MemberInfo>& members = control.Members();

  std::map<std::string, EnumInfo> enums;
  std::set<std::string> names;
  for (const MemberInfo& m : members) {
    if (!m.enumeration.name.empty()) enums.emplace(m.enumeration.name, m.enumeration);
    for (const ParamInfo& p : m.params)
      if (!p.enumeration.name.empty()) enums.emplace(p.enumeration.name, p.enumeration);
    if (!names.insert(m.name).second) Fail(className + ": two members named " + m.name);
    if (kBaseNames.count(m.name)) Fail(className + ": member " + m.name + " would hide ControlObject's own");
  }
  for (const MemberInfo& m : members)
    if (m.kind == MemberKind::Property && (names.count("set" + m.name) || names.count(m.name + "Changed")))
      Fail(className + ": the accessors of property " + m.name + " clash with a member");

  std::ostringstream h;
  h << "// Generated by plcqtgen from the member table of " << className << "; do not edit.\n"
    << "#pragma once\n#include <QString>\n#include <QVariant>\n#include <QVariantList>\n\n"
    << "#include \"qt/ControlObject.h\"\n\nnamespace plc::qt {\n\n"
    << "// " << className << " as a QObject: its properties, events and methods by their own names.\n"
    << "class " << wrapper << " : public ControlObject {\n  Q_OBJECT\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Property) continue;
    h << "  Q_PROPERTY(" << ValueType(m.result, m.enumeration) << " " << m.name << " READ " << m.name;
    if (m.writable) h << " WRITE set" << m.name;
    h << " NOTIFY " << m.name << "Changed)\n";
  }
  h << "\n public:\n";
  for (const auto& [name, info] : enums) {
    h << "  enum class " << name << " {";
    for (std::size_t i = 0; i < info.values.size(); ++i)
      h << (i ? ", " : " ") << Safe(info.values[i].label) << " = " << info.values[i].value;
    h << " };\n  Q_ENUM(" << name << ")\n";
  }
  h << "\n  // A new " << className << " from the " << library
    << " plug-in (loaded by name), restored from bag when one is given.\n"
    << "  explicit " << wrapper
    << "(PropertyBag* bag = nullptr, QtComponentHost* host = nullptr, QObject* parent = nullptr)\n"
    << "      : ControlObject(\"" << library << "\", \"" << className << "\", bag, host, parent) {}\n"
    << "  // A " << className << " made elsewhere; it must outlive this object.\n"
    << "  explicit " << wrapper << "(Control& control, QtComponentHost* host = nullptr, QObject* parent = nullptr)\n"
    << "      : ControlObject(control, \"" << className << "\", host, parent) {}\n\n";

  h << "  // Properties.\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Property) continue;
    const std::string type = ValueType(m.result, m.enumeration);
    h << "  " << type << " " << m.name << "() const { return " << FromVariant(type, "Get(\"" + m.name + "\")")
      << "; }\n";
    if (m.writable)
      h << "  void set" << m.name << "(" << ParamDecl(type, "value") << ") { Set(\"" << m.name << "\", "
        << ToVariant(type, "value") << "); }\n";
  }

  h << "\n  // Methods. By-reference parameters are QVariant& (optional ones QVariant*, nullptr to omit).\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Method) continue;
    const std::string result = m.result.empty() ? "void" : ValueType(m.result, {});
    std::vector<std::string> decls, args;
    // A default only where every later parameter is optional too.
    std::size_t firstDefault = m.params.size();
    while (firstDefault > 0 && m.params[firstDefault - 1].optional && m.params[firstDefault - 1].byRef) --firstDefault;
    for (std::size_t i = 0; i < m.params.size(); ++i) {
      const ParamInfo& p = m.params[i];
      const std::string name = Safe(plc::gen::ParamName(p, i));
      if (!p.byRef) {
        const std::string type = ValueType(p.type, {});
        decls.push_back(ParamDecl(type, name));
        args.push_back("In(" + ToVariant(type, name) + ")");
      } else if (p.optional) {
        decls.push_back("QVariant* " + name + (i >= firstDefault ? " = nullptr" : ""));
        args.push_back("Opt(" + name + ")");
      } else {
        decls.push_back("QVariant& " + name);
        args.push_back("Ref(" + name + ")");
      }
    }
    std::string call = "Call(\"" + m.name + "\", {";
    for (std::size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + args[i];
    call += "})";
    h << "  " << result << " " << m.name << "(";
    for (std::size_t i = 0; i < decls.size(); ++i) h << (i ? ", " : "") << decls[i];
    h << ") { ";
    if (result == "void") h << call << "; }\n";
    else h << "return " << FromVariant(result, call) << "; }\n";
  }

  h << "\n Q_SIGNALS:\n";
  for (const MemberInfo& m : members)
    if (m.kind == MemberKind::Property) h << "  void " << m.name << "Changed();\n";
  for (const MemberInfo& m : members) {
    if (m.kind != MemberKind::Event) continue;
    h << "  void " << m.name << "(";
    for (std::size_t i = 0; i < m.params.size(); ++i)
      h << (i ? ", " : "") << ParamDecl(EventType(m.params[i].type), Safe(m.params[i].name));
    h << ");\n";
  }
  h << "};\n\n}  // namespace plc::qt\n";
  return h.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: plcqtgen PLUGIN LIBRARY OUTPUT\n";
    return 2;
  }
  plc::PluginControl control = plc::gen::LoadOrExit("plcqtgen", argv[1]);
  const std::string text = Generate(*control, argv[2]);
  std::ifstream old(argv[3]);
  std::stringstream oldText;
  oldText << old.rdbuf();
  if (old && oldText.str() == text) return 0;
  std::ofstream out(argv[3], std::ios::trunc);
  out << text;
  if (!out) Fail(std::string("cannot write ") + argv[3]);
  return 0;
}

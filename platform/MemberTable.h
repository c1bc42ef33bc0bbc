#pragma once
// A control's member table as the code generators read it (the typed headers of package/, the
// Qt wrappers of qt/gen): the control loaded as a host loads it, the type words as one
// enumeration, and the names generated code gives parameters.
#include <cstdlib>
#include <iostream>
#include <string>

#include "base/Dispatch.h"
#include "platform/PluginControl.h"
#include "base/RuntimeError.h"

namespace plc::gen {

// The interface's type words; a word ending in "()" is an array of the word before it.
enum class TypeWord { Integer, Long, Single, Double, Boolean, String, Array, Variant };

inline bool IsArrayWord(const std::string& word) {
  return word == "Array" || (word.size() > 2 && word.compare(word.size() - 2, 2, "()") == 0);
}

inline TypeWord WordOf(const std::string& word) {
  if (IsArrayWord(word)) return TypeWord::Array;
  if (word == "Integer") return TypeWord::Integer;
  if (word == "Long") return TypeWord::Long;
  if (word == "Single") return TypeWord::Single;
  if (word == "Double") return TypeWord::Double;
  if (word == "Boolean") return TypeWord::Boolean;
  if (word == "String") return TypeWord::String;
  return TypeWord::Variant;
}

// A parameter's name, or argN (from 1) for one the table leaves unnamed.
inline std::string ParamName(const ParamInfo& p, std::size_t index) {
  return p.name.empty() ? "arg" + std::to_string(index + 1) : p.name;
}

// The control of a plug-in named by path or by name; a generator that cannot load it says
// why and ends (status 1).
inline PluginControl LoadOrExit(const std::string& tool, const std::string& plugin) {
  try {
    return PluginControl::Load(plugin);
  } catch (const RuntimeError& e) {
    std::cerr << tool << ": " << plugin << ": " << e.what() << "\n";
    std::exit(1);
  }
}

}  // namespace plc::gen

#pragma once
// A property bag kept in a profile (INI) file: one section per control instance, named by the
// host (for example "RtuLink1"), one key per stored property.
//
// Value text, chosen so that a value comes back with the Variant type it was written with:
//   Integer (16-bit)  plain digits              CommPort=1        BackStyle=-3
//   Long (32-bit)     digits with & suffix      Address=40000&    BackColor=0&
//   Byte              Byte(n)                   Level=Byte(7)
//   Single            number with ! suffix      Gain=1.5!
//   Double            decimal point or exponent Scale=2.0         Big=1e+300   (also inf, nan)
//   Boolean           True / False              PortOpen=True
//   String            "..." with \" \\ \t \r \n and \xHH for other control bytes
//                                               Settings="9600,e,8,1"
//   Font              Font("name",size,bold,italic), bold and italic 0 or 1
//                                               Font=Font("MS Sans Serif",8.25,0,0)
//   Empty             Empty
// Reading is lenient for documents edited by hand: plain digits that do not fit 16 bits are a
// Long (beyond 32 bits a Double), and any text that is none of these forms (Settings=9600,e,8,1,
// or a malformed literal) is read as that text, a String; a value followed by a blank and a
// ';' comment (CommPort=1   ; the press) is that value. Arrays cannot be stored.
//
// Load reads the whole document; Save re-reads the file, replaces this section only and writes
// the file atomically, so other sections (other controls in the same file) stay byte for byte
// and a failed save leaves the old file whole. Once anything was written since Load, Save leaves
// the section holding the keys written since then (those at their default removed) and, as the
// file has them, the loaded keys nobody wrote (a plant document's own keys beside the control's);
// after a Clear only the keys written since. A Save with no writes leaves the section as it was.
#include <string>
#include <utility>
#include <vector>

#include "platform/PropertyBag.h"

namespace plc {

// The value text above, both ways. Format throws RuntimeError (13) for an array.
std::string FormatProfileValue(const Variant& value);
Variant ParseProfileValue(const std::string& text);

class IniPropertyBag final : public PropertyBag {
 public:
  IniPropertyBag() = default;
  IniPropertyBag(const std::string& path, const std::string& section) { Load(path, section); }

  // A missing file is an empty document. A file that cannot be read is RuntimeError (53); one
  // that is not a profile (a NUL byte, a line that is no entry) is RuntimeError (321) naming
  // the file and line; a section name that cannot be a header (empty, ']') is RuntimeError (5).
  // On error the bag keeps what it held before.
  void Load(const std::string& path, const std::string& section);
  // Throws RuntimeError naming the file when it cannot save: 5 before any Load, 321 when the
  // file has meanwhile become something other than a profile, 53 when it cannot be read or
  // written (the text says which). The old file then stays as it was.
  void Save();
  // Forgets every value: the next Save leaves the section empty unless keys are written.
  void Clear();

  Variant ReadProperty(const std::string& key, const Variant& readDefault) override;
  // Throws RuntimeError (13) naming the key for an array, (5) for a key that cannot be an
  // entry name (empty, '=', line breaks).
  void WriteProperty(const std::string& key, const Variant& value, const Variant& writeDefault) override;

  const std::string& Path() const { return path_; }
  const std::string& Section() const { return section_; }
  // Whether the document held the section when it was loaded, even with no entries: a control
  // saved with every value at its default leaves an empty section, and is still a stored one.
  bool SectionFound() const { return sectionFound_; }
  // The stored entries in order, for inspection.
  const std::vector<std::pair<std::string, Variant>>& Entries() const { return entries_; }

 private:
  std::vector<std::pair<std::string, Variant>>::iterator Find(const std::string& key);
  bool WasWritten(const std::string& key) const;

  std::string path_;
  std::string section_;
  bool loaded_ = false;
  bool sectionFound_ = false;
  bool rewrite_ = false;  // something was written or cleared since Load
  std::vector<std::pair<std::string, Variant>> entries_;
  std::vector<std::string> written_;  // keys written since Load or Clear, in first-write order
};

}  // namespace plc

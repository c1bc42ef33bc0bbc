#pragma once
// What a control's property page shows and what Apply does, without a toolkit: a view binds
// one editor to each field and calls these on the host's notifications.
//
// The page shows the first selected control. SelectionChanged fills every field from it, in
// the page's order, each value as text. Typing marks the page changed and writes nothing.
// Apply assigns the texts to the same properties of the first selected control, in the same
// order; each text is converted by the property set itself, and the first refusal stops the
// apply with the property's error, the properties set before it keeping their new values (the
// refusal's text names those whose value changed). A field applied shows the property's value
// from then on.
// Only the first of several selected controls is read and written.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/Dispatch.h"

namespace plc::screens {

// How a view edits a field: a line of text, a check box ("True"/"False"), or a choice among
// the labels of the property's enumeration (the text is the value's number).
enum class FieldKind { Text, Check, Choice };

struct PageField {
  std::string box;       // "txtCommPort"
  std::string label;     // "CommPort:"
  std::string property;  // the property shown and set; empty for a field the page only keeps
  FieldKind kind = FieldKind::Text;
  // False: the field shows the property (when there is one) but Apply leaves it alone, so
  // editing it only marks the page changed; after Apply it shows the property again.
  bool applies = true;
  std::string initial{};  // the text of a field with no property
};

// The end of an Apply: applied, or the field whose property refused its text and why.
struct ApplyOutcome {
  bool applied = true;
  std::string box{};
  std::string property{};
  int error = 0;          // the run-time error number of the refusal
  // e.g. "Settings: Invalid property value (error 380); CommPort and Address were applied"
  std::string message{};
};

class PropertyPage {
 public:
  PropertyPage(std::string name, std::vector<PageField> fields);

  const std::string& Name() const { return name_; }
  const std::vector<PageField>& Fields() const { return fields_; }
  // The field of a box, or nullopt.
  std::optional<std::size_t> FieldOf(const std::string& box) const;

  // The host's selection-changed notification: the page now edits selection[0] (none when
  // empty) and shows its values. A property that cannot be read shows an empty text.
  void SelectionChanged(const std::vector<Dispatch*>& selection);
  Dispatch* Shown() const { return shown_; }

  const std::string& Text(std::size_t field) const { return texts_.at(field); }
  const std::string& Text(const std::string& box) const;
  // The person typed: the box holds text now and the page is changed. Throws
  // std::out_of_range for a box the page does not have.
  void Type(const std::string& box, std::string text);
  bool Changed() const { return changed_; }

  // The labels and values of a Choice field's enumeration on the shown control (empty when
  // none is shown or the property has none).
  std::vector<EnumInfo::Value> Choices(std::size_t field) const;

  // The host's apply-changes notification. With no control shown there is nothing to apply.
  ApplyOutcome Apply();

 private:
  Variant ValueFor(std::size_t field) const;
  // The shown control's property as text, or nullopt when it cannot be read.
  std::optional<std::string> ValueText(const std::string& property) const;
  // The field's text from the shown control's property.
  void Show(std::size_t field);

  std::string name_;
  std::vector<PageField> fields_;
  std::vector<std::string> texts_;
  Dispatch* shown_ = nullptr;
  bool changed_ = false;
};

// RtuLink's page: NumOfWriteRetries, NumOfReadRetries, CommPort, Address and Settings in text
// boxes, in that order.
PropertyPage PropertyPage1();
// DfLink's page: Address, CommPort, DTREnable, Enabled, Mode, NumOfReadRetries,
// NumOfWriteRetries, PLCType and Settings; its scan-interval, scan-enable and busy fields only
// mark the page changed.
PropertyPage PropertyPage2();
// The page of a control by its class name ("RtuLink", "DfLink"), or nullopt: SeqLink and
// UdpLink have none.
std::optional<PropertyPage> PropertyPageFor(const std::string& className);

}  // namespace plc::screens

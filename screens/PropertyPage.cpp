#include "screens/PropertyPage.h"

#include <stdexcept>

#include "base/RuntimeError.h"

namespace plc::screens {

namespace {

const MemberInfo* PropertyInfo(const Dispatch& control, const std::string& name) {
  for (const MemberInfo& m : control.Members())
    if (m.kind == MemberKind::Property && NamesEqual(m.name, name)) return &m;
  return nullptr;
}

// A whole number written as text, for a Variant property: the control then keeps a number, as
// it would have loaded from its document, not the text.
std::optional<std::int32_t> WholeNumber(const std::string& text) {
  try {
    Variant v(text);
    double d = v.ToDouble();
    std::int32_t whole = v.ToInt32();
    if (d == whole) return whole;
  } catch (const RuntimeError&) {
  }
  return std::nullopt;
}

}  // namespace

PropertyPage::PropertyPage(std::string name, std::vector<PageField> fields)
    : name_(std::move(name)), fields_(std::move(fields)) {
  for (const PageField& f : fields_) texts_.push_back(f.initial);
}

std::optional<std::size_t> PropertyPage::FieldOf(const std::string& box) const {
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].box == box) return i;
  return std::nullopt;
}

const std::string& PropertyPage::Text(const std::string& box) const {
  auto field = FieldOf(box);
  if (!field) throw std::out_of_range(name_ + " has no box " + box);
  return texts_[*field];
}

void PropertyPage::SelectionChanged(const std::vector<Dispatch*>& selection) {
  shown_ = selection.empty() ? nullptr : selection.front();
  for (std::size_t i = 0; i < fields_.size(); ++i) Show(i);
  changed_ = false;
}

void PropertyPage::Show(std::size_t field) {
  const PageField& f = fields_[field];
  if (!shown_ || f.property.empty()) {
    texts_[field] = f.initial;
    return;
  }
  try {
    Variant value = shown_->GetProperty(f.property);
    texts_[field] = f.kind == FieldKind::Check ? Variant(value.ToBool()).ToString() : value.ToString();
  } catch (const RuntimeError&) {
    texts_[field].clear();
  }
}

void PropertyPage::Type(const std::string& box, std::string text) {
  auto field = FieldOf(box);
  if (!field) throw std::out_of_range(name_ + " has no box " + box);
  texts_[*field] = std::move(text);
  changed_ = true;
}

std::vector<EnumInfo::Value> PropertyPage::Choices(std::size_t field) const {
  if (!shown_ || fields_.at(field).property.empty()) return {};
  const MemberInfo* m = PropertyInfo(*shown_, fields_[field].property);
  return m ? m->enumeration.values : std::vector<EnumInfo::Value>{};
}

Variant PropertyPage::ValueFor(std::size_t field) const {
  const std::string& text = texts_[field];
  const MemberInfo* m = PropertyInfo(*shown_, fields_[field].property);
  if (m && m->result == "Variant") {
    if (auto whole = WholeNumber(text)) return Variant(*whole);
  }
  return Variant(text);
}

std::optional<std::string> PropertyPage::ValueText(const std::string& property) const {
  try {
    return shown_->GetProperty(property).ToString();
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

ApplyOutcome PropertyPage::Apply() {
  if (!shown_) return {};
  std::vector<std::string> taken;  // properties this Apply gave another value
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const PageField& f = fields_[i];
    if (f.property.empty() || !f.applies) continue;
    const std::optional<std::string> before = ValueText(f.property);
    try {
      shown_->SetProperty(f.property, ValueFor(i));
      // What the property made of the text (2.6 kept as 3, &H11 as 17), not the text.
      Show(i);
      if (ValueText(f.property) != before) taken.push_back(f.property);
    } catch (const RuntimeError& e) {
      // The control is left half changed: the text says how, so closing the page is no guess.
      std::string message = f.property + ": " + e.what();
      if (!taken.empty()) {
        message += "; ";
        for (std::size_t n = 0; n < taken.size(); ++n)
          message += (n == 0 ? "" : n + 1 == taken.size() ? " and " : ", ") + taken[n];
        message += taken.size() == 1 ? " was applied" : " were applied";
      }
      if (std::optional<std::string> now = ValueText(f.property); now && now != before)
        message += "; " + f.property + " holds " + *now + " now";
      return {false, f.box, f.property, e.Number(), message};
    }
  }
  // A field Apply leaves alone shows the control's value again, not an edit that was not taken.
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (!fields_[i].applies) Show(i);
  changed_ = false;
  return {};
}

PropertyPage PropertyPage1() {
  auto text = [](const char* property) {
    return PageField{std::string("txt") + property, std::string(property) + ":", property};
  };
  return PropertyPage("PropertyPage1", {text("NumOfWriteRetries"), text("NumOfReadRetries"), text("CommPort"),
                                        text("Address"), text("Settings")});
}

PropertyPage PropertyPage2() {
  auto text = [](const char* property) {
    return PageField{std::string("txt") + property, std::string(property) + ":", property};
  };
  auto check = [](const char* property) {
    return PageField{std::string("chk") + property, property, property, FieldKind::Check};
  };
  auto choice = [](const char* property) {
    return PageField{std::string("cbo") + property, std::string(property) + ":", property, FieldKind::Choice};
  };
  return PropertyPage(
      "PropertyPage2",
      {text("Address"), text("CommPort"), check("DTREnable"), check("Enabled"), choice("Mode"),
       text("NumOfReadRetries"), text("NumOfWriteRetries"), choice("PLCType"), text("Settings"),
       // Shown as the control has them; editing them only marks the page changed.
       PageField{"txtScanInterval", "Scan interval (ms):", "ScanReadIOTimerInterval", FieldKind::Text, false},
       PageField{"chkScanEnable", "Scan enabled", "ScanReadEnable", FieldKind::Check, false},
       PageField{"chkBusy", "Busy", "CommBusy", FieldKind::Check, false}});
}

std::optional<PropertyPage> PropertyPageFor(const std::string& className) {
  if (NamesEqual(className, "RtuLink")) return PropertyPage1();
  if (NamesEqual(className, "DfLink")) return PropertyPage2();
  return std::nullopt;
}

}  // namespace plc::screens

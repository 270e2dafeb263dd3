#include "params/field_text.h"

#include <cctype>
#include <string_view>

#include "base/format.h"
#include "base/language.h"
#include "params/drive_catalogue.h"

namespace params {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The index of `value` in a list (German or English texts, any letter case), or -1.
template <typename List>
int EntryIndex(const List& german, const List& english, const std::string& value) {
  for (size_t i = 0; i < german.size(); ++i) {
    if (SameLetters(german[i], value) || SameLetters(english[i], value)) return static_cast<int>(i);
  }
  return -1;
}

template <typename List>
std::string Choices(const List& list) {
  std::string text;
  for (const auto& entry : list) text += std::string(text.empty() ? "" : ", ") + entry;
  return text;
}

std::optional<bool> OnOff(const std::string& value) {
  for (const char* on : {"on", "1", "ja", "yes", "true"}) {
    if (value == on) return true;
  }
  for (const char* off : {"off", "0", "nein", "no", "false"}) {
    if (value == off) return false;
  }
  return std::nullopt;
}

std::optional<FieldInput> NoneOf(const std::string& text, const std::string& choices,
                                 std::string* error) {
  *error = base::Format("\"%s\" is none of: %s", text.c_str(), choices.c_str());
  return std::nullopt;
}

std::optional<FieldInput> ListInput(const DisplayItem& item, Side side, const std::string& text,
                                    const NodeScreenView& view, const ImageView& image,
                                    std::string* error) {
  const size_t s = static_cast<size_t>(side);
  FieldInput input;
  switch (item.id) {
    case item::kDriveType: {
      const auto& entries = view.driveEntries[s];
      std::string choices;
      for (size_t i = 0; i < entries.size(); ++i) {
        const DriveType& row = kDriveCatalogue[static_cast<size_t>(entries[i].catalogueIndex)];
        if (text == entries[i].text || text == row.name || text == row.family09Name) {
          input.entry = static_cast<int>(i);
        }
        choices += std::string(choices.empty() ? "" : ", ") + entries[i].text;
      }
      if (input.entry < 0) return NoneOf(text, choices, error);
      return input;
    }
    case item::kBrake:
      input.entry = EntryIndex(kBrakeMethods, kBrakeMethodsEnglish, text);
      if (input.entry < 0) return NoneOf(text, Choices(kBrakeMethods), error);
      return input;
    case item::kDirection: {
      const auto& list = image.ModuleType() == kTypeValves ? kValveActions : kDirections;
      input.entry = EntryIndex(list, list, text);
      if (input.entry < 0) return NoneOf(text, Choices(list), error);
      return input;
    }
    case item::kZpaMode:
      input.entry = EntryIndex(kZpaModes, kZpaModesEnglish, text);
      if (input.entry < 0) return NoneOf(text, Choices(kZpaModes), error);
      return input;
    default:
      *error = base::Format("%s cannot be set", item.key);
      return std::nullopt;
  }
}

}  // namespace

std::optional<FieldInput> FieldInputFromText(const DisplayItem& item, Side side,
                                             const std::string& text, const NodeScreenView& view,
                                             const ImageView& image, std::string* error) {
  FieldInput input;
  switch (item.set) {
    case SetKind::Typed:
    case SetKind::TypedPair:
      input.typed = text;
      return input;
    case SetKind::List:
      return ListInput(item, side, text, view, image, error);
    case SetKind::Check: {
      const auto on = OnOff(text);
      if (!on) return NoneOf(text, "on, off", error);
      input.ticked = *on;
      return input;
    }
    case SetKind::None:
      break;
  }
  *error = base::Format("%s cannot be set; fields that can: %s", item.key, SettableKeys().c_str());
  return std::nullopt;
}

std::string SettableKeys() {
  std::string keys;
  for (const DisplayItem& item : kDisplayItems) {
    if (!item.Settable()) continue;
    keys += std::string(keys.empty() ? "" : ", ") + item.key;
  }
  return keys;
}

}  // namespace params

namespace params {
namespace {

std::string ShownValueText(const DisplayItem& item, const ItemView& view) {
  switch (item.control) {
    case ControlKind::CheckBox:
      return view.checked ? "on" : "off";
    case ControlKind::Button:
      return view.checked ? "pressed" : "released";
    case ControlKind::Indicator:
      switch (view.colour) {
        case IndicatorColour::Green:
          return "green";
        case IndicatorColour::Red:
          return "red";
        case IndicatorColour::Yellow:
          return "yellow";
      }
      return "";
    default:
      return view.text;
  }
}

}  // namespace

std::string ShownLabelIn(const ShownField& field, base::Language language) {
  return base::Translate(language, "DisplayItems", field.label.c_str());
}

std::string ShownValueIn(const ShownField& field, base::Language language) {
  const DisplayItem& item = DisplayItemById(field.item);
  if (item.control != ControlKind::List) return field.value;
  const char* context = item.id == item::kDriveType ? "DriveCatalogue" : "DisplayItems";
  return base::Translate(language, context, field.value.c_str());
}

std::vector<ShownField> ShownFields(const NodeScreenView& view, const ImageView& image) {
  std::vector<ShownField> fields;
  for (const DisplayItem& item : kDisplayItems) {
    if (item.display == DisplayKind::None) continue;
    for (Side side : {Side::A, Side::B}) {
      if (!item.HasSides() && side == Side::B) continue;
      const size_t s = static_cast<size_t>(side);
      const ItemScreen& screen = view.items[static_cast<size_t>(item.id)];
      if (!screen.shown[s]) continue;
      ShownField field;
      field.item = item.id;
      field.side = item.HasSides() ? SideKey(item.group, side) : "";
      field.key =
          field.side.empty() ? std::string(item.key) : std::string(item.key) + "." + field.side;
      field.label = screen.label[s];
      field.value = ShownValueText(item, screen.view[s]);
      const bool measured = item.control == ControlKind::Edit || item.control == ControlKind::Value;
      if (!field.value.empty() && measured) field.unit = UnitTextOf(item, side, image);
      fields.push_back(std::move(field));
    }
  }
  return fields;
}

}  // namespace params

#pragma once
// A settable field's value as a script writes it ("0.5", "Frei", "on") turned into what the
// node screen's control would hold, so that a script sets a field by the screen's own path.
#include <optional>
#include <string>
#include <vector>

#include "base/language.h"
#include "params/display_items.h"
#include "params/edit_rules.h"
#include "params/node_screen_controller.h"

namespace params {

// Typed fields take the text as typed; lists take an entry's German or English text (any
// letter case; drive types also the catalogue's names); check boxes take on/off, 1/0, ja/nein,
// yes/no, true/false. `view` and `image` are the module as the screen shows it. Zone currents fill
// `typed` only: the caller pairs them. nullopt with
// `*error` set when the text names no entry or the item cannot be set.
std::optional<FieldInput> FieldInputFromText(const DisplayItem& item, Side side,
                                             const std::string& text, const NodeScreenView& view,
                                             const ImageView& image, std::string* error);

// The keys of every settable field in table order, "speed, accel, …".
std::string SettableKeys();

// One field as the node screen shows it: "speed.left", its German label, its value as text
// (check boxes on/off, buttons pressed/released, indicators by colour) and the unit shown.
struct ShownField {
  std::string key;   // KEY or KEY.SIDE
  int item = 0;      // the display item's id
  std::string side;  // "left", "upstream" … ("" for a field without sides)
  std::string label;
  std::string value;
  std::string unit;  // "" for controls without a unit and for empty values
};
// Every field the screen's layout shows for the module, in table order.
std::vector<ShownField> ShownFields(const NodeScreenView& view, const ImageView& image);
// The field's label, and its value, in `language`: labels and list entries (drive types,
// brake methods, ZPA modes) are table texts with translations; numbers and units stay.
std::string ShownLabelIn(const ShownField& field, base::Language language);
std::string ShownValueIn(const ShownField& field, base::Language language);

}  // namespace params

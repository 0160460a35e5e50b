#pragma once

// Form1's controls as the window holds them: their kind, the record field each shows or
// names, the buttons' captions, and each one's place in the client area in twips. The
// program creates its controls from this table, in its order; the end-to-end tests check
// the real window against it.

#include <stdexcept>
#include <string_view>

#include "store/records_format.h"
#include "window/control_ids.h"

namespace perlwick {

enum class ControlKind { label, hidden_label, name_box, text_box, notes_box, button };

struct ControlLayout {
  int id;
  ControlKind kind;
  int field;             // the record field a box shows or a label names; -1 for buttons
  const wchar_t* label;  // a button's caption
  int left, top, width, height;
};

// The window's client area, in twips.
inline constexpr int kClientWidth = 9870;
inline constexpr int kClientHeight = 1965;

// The controls in creation order. The focusable ones come in tab order; each label comes
// just before the box it names, so that screen readers name the box after it.
inline constexpr ControlLayout kForm1Controls[] = {
    {ids::Label1, ControlKind::label, 0, nullptr, 120, 120, 1300, 300},
    {ids::Combo1, ControlKind::name_box, 0, nullptr, 1440, 120, 4455, 315},
    {ids::Label2, ControlKind::label, 1, nullptr, 120, 480, 1300, 300},
    {ids::Text2, ControlKind::text_box, 1, nullptr, 1440, 480, 4455, 285},
    {ids::Label3, ControlKind::label, 2, nullptr, 120, 840, 1300, 300},
    {ids::Text3, ControlKind::text_box, 2, nullptr, 1440, 840, 4455, 285},
    {ids::Label4, ControlKind::label, 3, nullptr, 120, 1200, 1300, 300},
    {ids::Text4, ControlKind::text_box, 3, nullptr, 1440, 1200, 1455, 285},
    {ids::Label6, ControlKind::label, 4, nullptr, 3120, 1200, 1305, 300},
    {ids::Text5, ControlKind::text_box, 4, nullptr, 4440, 1200, 1455, 285},
    {ids::Label5, ControlKind::label, 5, nullptr, 120, 1560, 1300, 300},
    {ids::Text6, ControlKind::text_box, 5, nullptr, 1440, 1560, 1455, 285},
    {ids::Label7, ControlKind::label, 6, nullptr, 3120, 1560, 1305, 300},
    {ids::Text7, ControlKind::text_box, 6, nullptr, 4440, 1560, 1455, 285},
    {ids::NotesLabel, ControlKind::hidden_label, 7, nullptr, 6000, 120, 3735, 300},
    {ids::Text8, ControlKind::notes_box, 7, nullptr, 6000, 120, 3735, 1335},
    {ids::Command1, ControlKind::button, -1, L"Add", 6000, 1560, 855, 300},
    {ids::Command2, ControlKind::button, -1, L"Update", 6960, 1560, 855, 300},
    {ids::Command3, ControlKind::button, -1, L"Delete", 7920, 1560, 855, 300},
    {ids::Command4, ControlKind::button, -1, L"Hide", 8880, 1560, 855, 300},
};

// What a control shows when the window opens: a label the label of its field, a button its
// caption, a box nothing.
constexpr std::wstring_view caption_of(const ControlLayout& control) {
  switch (control.kind) {
    case ControlKind::label:
    case ControlKind::hidden_label:
      return field_label(static_cast<std::size_t>(control.field));
    case ControlKind::button:
      return control.label;
    default:
      return {};
  }
}

// The table's entry of a control.
constexpr const ControlLayout& layout_of(int id) {
  for (const ControlLayout& control : kForm1Controls) {
    if (control.id == id) return control;
  }
  throw std::invalid_argument("Form1 has no control of that id");
}

}  // namespace perlwick

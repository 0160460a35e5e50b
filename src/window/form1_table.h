#pragma once

// The one table of Form1's controls. Each row is one control: its id, its kind, the record
// field it shows or names, its caption, its place in the client area in twips and the
// handler of Form1 that its event runs. The program creates, places and wraps its controls
// by walking this table, in its order; Form1 finds its boxes in it by field; the
// end-to-end tests check the real window against it. To add a box, add its id to
// control_ids.h and its label's and its own rows here.

#include <cstddef>
#include <stdexcept>
#include <string_view>

#include "window/control_ids.h"

namespace perlwick {

enum class ControlKind { label, hidden_label, name_box, text_box, notes_box, button };

// The handler of Form1 that a control's event runs: a button's press, or a box's losing
// the focus to another control of the window. The name box, the only one of its kind,
// runs Form1's Combo1_ handlers on its own events.
enum class Handler {
  none,
  Command1_Click,
  Command2_Click,
  Command3_Click,
  Command4_Click,
  Text7_LostFocus
};

struct ControlRow {
  int id;
  ControlKind kind;
  int field;               // the record field a box shows or a label names; -1 for buttons
  const wchar_t* caption;  // what a label or a button shows; none for boxes
  int left, top, width, height;
  Handler handler = Handler::none;
  bool starts_disabled = false;
};

// The window's client area, in twips.
inline constexpr int kClientWidth = 9870;
inline constexpr int kClientHeight = 1965;

// The controls in creation order. The focusable ones come in tab order; each label comes
// just before the box it names, so that screen readers name the box after it.
inline constexpr ControlRow kForm1Controls[] = {
    {ids::Label1, ControlKind::label, 0, L"Product Name", 120, 120, 1300, 300},
    {ids::Combo1, ControlKind::name_box, 0, nullptr, 1440, 120, 4455, 315},
    {ids::Label2, ControlKind::label, 1, L"URL", 120, 480, 1300, 300},
    {ids::Text2, ControlKind::text_box, 1, nullptr, 1440, 480, 4455, 285},
    {ids::Label3, ControlKind::label, 2, L"Affiliate Link", 120, 840, 1300, 300},
    {ids::Text3, ControlKind::text_box, 2, nullptr, 1440, 840, 4455, 285},
    {ids::Label4, ControlKind::label, 3, L"Username", 120, 1200, 1300, 300},
    {ids::Text4, ControlKind::text_box, 3, nullptr, 1440, 1200, 1455, 285},
    {ids::Label6, ControlKind::label, 4, L"Password", 3120, 1200, 1305, 300},
    {ids::Text5, ControlKind::text_box, 4, nullptr, 4440, 1200, 1455, 285},
    {ids::Label5, ControlKind::label, 5, L"Commision %", 120, 1560, 1300, 300},
    {ids::Text6, ControlKind::text_box, 5, nullptr, 1440, 1560, 1455, 285},
    {ids::Label7, ControlKind::label, 6, L"Date Joined", 3120, 1560, 1305, 300},
    {ids::Text7, ControlKind::text_box, 6, nullptr, 4440, 1560, 1455, 285,
     Handler::Text7_LostFocus},
    {ids::NotesLabel, ControlKind::hidden_label, 7, L"Notes", 6000, 120, 3735, 300},
    {ids::Text8, ControlKind::notes_box, 7, nullptr, 6000, 120, 3735, 1335},
    {ids::Command1, ControlKind::button, -1, L"Add", 6000, 1560, 855, 300, Handler::Command1_Click,
     /*starts_disabled=*/true},
    {ids::Command2, ControlKind::button, -1, L"Update", 6960, 1560, 855, 300,
     Handler::Command2_Click},
    {ids::Command3, ControlKind::button, -1, L"Delete", 7920, 1560, 855, 300,
     Handler::Command3_Click},
    {ids::Command4, ControlKind::button, -1, L"Hide", 8880, 1560, 855, 300,
     Handler::Command4_Click},
};

constexpr bool is_box(ControlKind kind) {
  return kind == ControlKind::name_box || kind == ControlKind::text_box ||
         kind == ControlKind::notes_box;
}

constexpr bool is_label(ControlKind kind) {
  return kind == ControlKind::label || kind == ControlKind::hidden_label;
}

// What a control shows when the window opens: a label or a button its caption, a box
// nothing.
constexpr std::wstring_view caption_of(const ControlRow& control) {
  return control.caption != nullptr ? std::wstring_view(control.caption) : std::wstring_view();
}

// The text of the label that names a record field in the window ("Notes" for the notes
// box, whose label is hidden), for messages that name the field.
constexpr std::wstring_view field_caption(std::size_t field) {
  for (const ControlRow& control : kForm1Controls) {
    if (is_label(control.kind) && static_cast<std::size_t>(control.field) == field) {
      return caption_of(control);
    }
  }
  return L"?";
}

// The table's row of a control.
constexpr const ControlRow& row_of(int id) {
  for (const ControlRow& control : kForm1Controls) {
    if (control.id == id) return control;
  }
  throw std::invalid_argument("Form1 has no control of that id");
}

}  // namespace perlwick

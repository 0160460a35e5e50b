#pragma once

// The one table of Form1's controls. Each row is one control: its id, its kind, the record
// field it shows or names, its caption, its place in the client area in twips and the
// handlers of Form1 that its events run. The program creates, places and wraps its controls
// by walking this table, in its order, and runs their handlers as it says; Form1 finds its
// boxes in it by field; the tests take their boxes from it and the end-to-end tests check
// the real window against it. The checks below the table hold at compile time.
//
// Adding a text box is: one id, two table rows, one field. That is: its id in
// control_ids.h, its label's row and its own row here, and its field in the record
// (records/records_format.h).
//
// The names the program keeps, and what they are:
//   Form1            the window (form1.h; its Win32 side in win32_main_window.h)
//   Module1          the tray icon (tray/module1.h)
//   Combo1           the product name box, which finds a record as you type
//   Text2            URL
//   Text3            Affiliate Link
//   Text4            Username
//   Text5            Password
//   Text6            the commission in percent (its label says "Commision %")
//   Text7            Date Joined, checked as a date when it hands on the focus
//   Text8            Notes
//   Label1 to Label7 the captions of Combo1 and Text2 to Text7: Label1 "Product Name",
//                    Label2 "URL", Label3 "Affiliate Link", Label4 "Username",
//                    Label6 "Password", Label5 "Commision %", Label7 "Date Joined"
//   Command1         Add
//   Command2         Update
//   Command3         Delete
//   Command4         Hide
// Form1's handlers are named after the control (or the form) and the event they answer:
// Combo1_Change, Command1_Click, Text7_LostFocus, Form_Load, ...

#include <cstddef>
#include <stdexcept>
#include <string_view>

#include "records/records_format.h"
#include "window/control_ids.h"

namespace perlwick {

enum class ControlKind { label, hidden_label, name_box, text_box, notes_box, button };

// The handlers of Form1 that the controls' events run.
enum class Handler {
  none,
  Combo1_GotFocus,
  Combo1_DropDown,
  Combo1_Change,
  Combo1_Click,
  Command1_Click,
  Command2_Click,
  Command3_Click,
  Command4_Click,
  Text7_LostFocus,  // the last: the checks below count the handlers up to it
};

// The handler each event of a control runs; none for an event that runs nothing.
struct ControlEvents {
  // A button is pressed; an item of the name box's list is chosen.
  Handler click = Handler::none;
  // The user has changed the text.
  Handler change = Handler::none;
  // The control has taken the keyboard focus.
  Handler got_focus = Handler::none;
  // The control has handed the focus on to another control of the window.
  Handler lost_focus = Handler::none;
  // The name box's list is about to be seen or walked.
  Handler drop_down = Handler::none;
};

struct ControlRow {
  int id;
  ControlKind kind;
  int field;               // the record field a box shows or a label names; -1 for buttons
  const wchar_t* caption;  // what a label or a button shows; none for boxes
  int left, top, width, height;
  ControlEvents on = {};
  bool starts_disabled = false;
};

// The window's client area, in twips.
inline constexpr int kClientWidth = 9870;
inline constexpr int kClientHeight = 1965;

// The controls in creation order. The focusable ones come in tab order; each label comes
// just before the box it names, so that screen readers name the box after it.
// clang-format off
inline constexpr ControlRow kForm1Controls[] = {
    {ids::Label1, ControlKind::label, 0, L"Product Name", 120, 120, 1300, 300},
    {ids::Combo1, ControlKind::name_box, 0, nullptr, 1440, 120, 4455, 315,
     {.click = Handler::Combo1_Click, .change = Handler::Combo1_Change,
      .got_focus = Handler::Combo1_GotFocus, .drop_down = Handler::Combo1_DropDown}},
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
     {.lost_focus = Handler::Text7_LostFocus}},
    {ids::NotesLabel, ControlKind::hidden_label, 7, L"Notes", 6000, 120, 3735, 300},
    {ids::Text8, ControlKind::notes_box, 7, nullptr, 6000, 120, 3735, 1335},
    {ids::Command1, ControlKind::button, -1, L"Add", 6000, 1560, 855, 300,
     {.click = Handler::Command1_Click}, /*starts_disabled=*/true},
    {ids::Command2, ControlKind::button, -1, L"Update", 6960, 1560, 855, 300,
     {.click = Handler::Command2_Click}},
    {ids::Command3, ControlKind::button, -1, L"Delete", 7920, 1560, 855, 300,
     {.click = Handler::Command3_Click}},
    {ids::Command4, ControlKind::button, -1, L"Hide", 8880, 1560, 855, 300,
     {.click = Handler::Command4_Click}},
};
// clang-format on

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

// The row of the box that shows a record field.
constexpr const ControlRow& box_row(std::size_t field) {
  for (const ControlRow& control : kForm1Controls) {
    if (is_box(control.kind) && static_cast<std::size_t>(control.field) == field) return control;
  }
  throw std::invalid_argument("Form1 has no box for that field");
}

// ---- What the table must hold ---------------------------------------------------------

namespace form1_table_checks {

constexpr int rows_of_kind(ControlKind kind) {
  int rows = 0;
  for (const ControlRow& control : kForm1Controls) rows += control.kind == kind ? 1 : 0;
  return rows;
}

// Each box shows, and each label names, a field of the record; a button has no field.
constexpr bool fields_are_fields_of_the_record() {
  for (const ControlRow& control : kForm1Controls) {
    const bool has_field = is_box(control.kind) || is_label(control.kind);
    if (has_field && (control.field < 0 || static_cast<std::size_t>(control.field) >= kFieldCount))
      return false;
    if (!has_field && control.field != -1) return false;
  }
  return true;
}

// Each field of the record has exactly one box that shows it and one label that names it.
constexpr bool every_field_has_one_box_and_one_label() {
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    int boxes = 0;
    int labels = 0;
    for (const ControlRow& control : kForm1Controls) {
      if (static_cast<std::size_t>(control.field) != field) continue;
      boxes += is_box(control.kind) ? 1 : 0;
      labels += is_label(control.kind) ? 1 : 0;
    }
    if (boxes != 1 || labels != 1) return false;
  }
  return true;
}

// No two controls share an id.
constexpr bool every_id_once() {
  for (const ControlRow& control : kForm1Controls) {
    int rows = 0;
    for (const ControlRow& other : kForm1Controls) rows += other.id == control.id ? 1 : 0;
    if (rows != 1) return false;
  }
  return true;
}

// Each control names handlers only for the events its kind tells of: a button its press,
// a text box its losing the focus, the name box its choice, change, focus and list; a
// label none.
constexpr bool events_fit_the_kinds() {
  for (const ControlRow& control : kForm1Controls) {
    const bool name_box = control.kind == ControlKind::name_box;
    const bool text_box =
        control.kind == ControlKind::text_box || control.kind == ControlKind::notes_box;
    const bool button = control.kind == ControlKind::button;
    const auto told_of = [](Handler handler, bool told) {
      return told || handler == Handler::none;
    };
    const ControlEvents& on = control.on;
    if (!told_of(on.click, button || name_box) || !told_of(on.change, name_box) ||
        !told_of(on.got_focus, name_box) || !told_of(on.lost_focus, text_box) ||
        !told_of(on.drop_down, name_box)) {
      return false;
    }
  }
  return true;
}

// Each handler of Form1 is run by exactly one event of one control.
constexpr bool every_handler_once() {
  for (int handler = 1; handler <= static_cast<int>(Handler::Text7_LostFocus); ++handler) {
    int events = 0;
    for (const ControlRow& control : kForm1Controls) {
      for (const Handler named : {control.on.click, control.on.change, control.on.got_focus,
                                  control.on.lost_focus, control.on.drop_down}) {
        events += static_cast<int>(named) == handler ? 1 : 0;
      }
    }
    if (events != 1) return false;
  }
  return true;
}

static_assert(fields_are_fields_of_the_record(), "a box or label of Form1 names no record field");
static_assert(every_field_has_one_box_and_one_label(),
              "a record field has no box or label in Form1, or more than one");
static_assert(every_id_once(), "two controls of Form1 share an id");
static_assert(events_fit_the_kinds(),
              "a control of Form1 names a handler for an event it never has");
static_assert(every_handler_once(), "a handler of Form1 is run by no event, or by more than one");
// Form1 takes the name from the name box and the notes through the notes box's line breaks.
static_assert(rows_of_kind(ControlKind::name_box) == 1 && box_row(0).kind == ControlKind::name_box,
              "the product name is not in Form1's one name box");
static_assert(rows_of_kind(ControlKind::notes_box) == 1 &&
                  box_row(kNotesField).kind == ControlKind::notes_box,
              "the notes are not in Form1's one notes box");

}  // namespace form1_table_checks

}  // namespace perlwick

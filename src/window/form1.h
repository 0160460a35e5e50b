#pragma once

// Form1, the program's one window: its controls, its record store and its event
// handlers. The Win32 layer creates the controls from the window's table (form1_table.h)
// and calls the handlers; everything the handlers decide is here.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/record_store.h"
#include "tray/module1.h"
#include "window/controls.h"
#include "window/form1_table.h"

namespace perlwick {

class Form1 {
 public:
  // Takes from controls the name box, "Add" and the box of each record field, as the
  // window's table names them. private_folder: where the record store keeps what it needs
  // besides the records file (by default the account's own folder).
  Form1(Form1Controls& controls, FormServices& services, Module1& tray,
        std::filesystem::path records_path, FileSystem& files = native_file_system(),
        std::filesystem::path private_folder = {});

  // Start-up: places the window at the bottom left of the screen and loads the records.
  void Form_Load();
  // The window is on the screen for the first time: what the load found wrong is said.
  void Form_Shown();
  // The user has come back to the window: a records file that could not be read at the
  // start is read now.
  void Form_Activate();
  // The window and its icon exist and the load step has run: the tray icon is added.
  void Form_Initialize(std::uintptr_t window, std::uintptr_t icon);
  // The tray icon's mouse callback (and mouse moves over the window): a left-button press
  // brings the window back.
  void Form_MouseMove(std::uintptr_t lparam);
  // The shell has restarted and lost the tray icon.
  void Form_TaskbarCreated();
  // The window is being destroyed: the tray icon goes.
  void Form_Terminate();

  // The name box look-up. Taking the focus catches up with records that another copy of
  // the program has saved.
  void Combo1_GotFocus();
  // The name box's list is about to be seen or walked: it is filled from the table if it
  // does not hold the table's names yet.
  void Combo1_DropDown();
  void Combo1_Change();
  // The user chose item from the name box's list.
  void Combo1_Click(std::wstring_view item);

  // "Add", "Update" and "Delete".
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  // "Hide".
  void Command4_Click();

  // The Date Joined box has handed the focus to another control of the window.
  void Text7_LostFocus();

  // Runs the handler that an event of a control runs, as the window's table names it; item
  // is the list item chosen, for the name box's choice.
  void handle(Handler handler, std::wstring_view item = {});

 protected:
  // For a view of what the window holds from outside the program (the tests).
  const RecordStore& store() const { return store_; }

 private:
  // Reloads the record table from the records file.
  LoadResult recrefresh();
  // The box that shows a record field: the name box for the name, Text2 to Text8 after.
  TextControl& field_box(std::size_t field) const { return *field_boxes_[field]; }
  // Sets the name box's text; a real change runs Combo1_Change, as typing does.
  void set_name_text(std::wstring_view text);
  // Shows the row's name in the name box and its fields in the field boxes.
  void show_row(std::size_t row);
  void empty_field_boxes();
  // The last row whose name matches text, or count() when none does.
  std::size_t last_match(std::wstring_view text) const;
  // The record the boxes hold.
  Record record_in_boxes() const;
  // Shows a failure's message; true when there was none.
  bool report(const Status& status);
  // The record last shown, when it is the one of name: an edit of it saves nothing over a
  // change made outside since.
  const Record* shown_record(std::wstring_view name) const;
  // After a saved edit: the name box's list, when it held the table's names, is to follow
  // the edit when it is next seen.
  void follow_edit();

  ComboControl& Combo1;
  ButtonControl& Command1;
  std::array<TextControl*, kFieldCount> field_boxes_{};
  FormServices& services_;
  Module1& tray_;
  RecordStore store_;
  // Set while the change look-up runs: a change it makes itself is not looked up again,
  // which stops the cascade between names that differ only in case.
  bool in_change_ = false;
  // What the load step has to tell the user once the window is seen.
  std::wstring load_message_;
  // The start could not read the records file; the window has been shown.
  bool load_failed_ = false;
  bool shown_once_ = false;
  // The stored record the look-up last showed, as the table held it then.
  std::optional<Record> shown_;
  // An edit the name box's list has still to follow, with the name it put in the table.
  struct ListEdit {
    RecordTable::Change::Kind kind;
    std::vector<std::size_t> rows;
    std::wstring name;
  };
  // The table whose names the name box's list holds once it has followed list_edits_.
  std::uint64_t listed_generation_ = UINT64_MAX;
  std::vector<ListEdit> list_edits_;
  std::size_t list_edit_rows_ = 0;
};

// Line breaks: the notes box writes CR LF, the records file keeps LF.
std::wstring notes_from_box(std::wstring_view text);
std::wstring notes_to_box(std::wstring_view notes);

}  // namespace perlwick

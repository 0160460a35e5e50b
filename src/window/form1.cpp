#include "window/form1.h"

#include <new>
#include <utility>

#include "common/scope_exit.h"
#include "window/messages.h"

namespace perlwick {

Form1::Form1(Form1Controls& controls, FormServices& services, Module1& tray,
             std::filesystem::path records_path, FileSystem& files,
             std::filesystem::path private_folder)
    : Combo1(controls.name_box(ids::Combo1)),
      Command1(controls.button(ids::Command1)),
      services_(services),
      tray_(tray),
      store_(std::move(records_path), files, std::move(private_folder)) {
  // A file that another program holds is waited for, a moment, with the wait cursor.
  store_.on_waiting([this] { services_.show_wait_cursor(); });
  // The table holds one box for each field (form1_table.h checks it as it compiles).
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    const ControlRow& box = box_row(field);
    field_boxes_[field] =
        box.kind == ControlKind::name_box ? &controls.name_box(box.id) : &controls.text_box(box.id);
  }
}

void Form1::handle(Handler handler, std::wstring_view item) {
  switch (handler) {
    case Handler::none:
      break;
    case Handler::Combo1_GotFocus:
      Combo1_GotFocus();
      break;
    case Handler::Combo1_DropDown:
      Combo1_DropDown();
      break;
    case Handler::Combo1_Change:
      Combo1_Change();
      break;
    case Handler::Combo1_Click:
      Combo1_Click(item);
      break;
    case Handler::Command1_Click:
      Command1_Click();
      break;
    case Handler::Command2_Click:
      Command2_Click();
      break;
    case Handler::Command3_Click:
      Command3_Click();
      break;
    case Handler::Command4_Click:
      Command4_Click();
      break;
    case Handler::Text7_LostFocus:
      Text7_LostFocus();
      break;
  }
}

// ---- Start-up ---------------------------------------------------------------------------

void Form1::Form_Load() {
  services_.move_to(0, services_.screen_height_twips() - 3000);
  // A missing records file is not an error at start-up: the window opens with no records.
  // One that cannot be read is said, once the window is on the screen: with no records
  // shown it would look as if every record were gone. Every edit reads the file again
  // before it writes, and writes nothing over a file it could not read.
  const LoadResult loaded = recrefresh();
  load_message_ = text_of(loaded.message);
  load_failed_ = loaded.outcome == LoadOutcome::failed;
}

void Form1::Form_Activate() {
  // A records file that could not be read at the start (another program had it open) is
  // read as soon as the user comes back to the window, without a word unless it has more
  // to say than the start did.
  if (!load_failed_ || !shown_once_) return;
  const LoadResult loaded = recrefresh();
  if (loaded.outcome == LoadOutcome::failed) return;
  load_failed_ = false;
  // The records are there now: what is typed in the name box is looked up in them.
  Combo1_Change();
  if (const std::wstring said = text_of(loaded.message); !said.empty()) services_.show_error(said);
}

void Form1::Form_Shown() {
  if (!load_message_.empty()) services_.show_error(std::exchange(load_message_, {}));
  shown_once_ = true;
}

LoadResult Form1::recrefresh() {
  return store_.recrefresh();
}

void Form1::Form_Initialize(std::uintptr_t window, std::uintptr_t icon) {
  tray_.add(window, icon);
}

// ---- The tray icon and hiding ---------------------------------------------------------------

void Form1::Command4_Click() {
  // Only the tray icon brings a hidden window back: without it, the window stays.
  if (!tray_.ensure_in_place()) {
    services_.show_error(text_of(Message{Says::window_not_hidden}));
    return;
  }
  services_.hide();
}

void Form1::Form_MouseMove(std::uintptr_t lparam) {
  if (is_left_button_press(lparam)) services_.show_normal();
}

void Form1::Form_TaskbarCreated() {
  tray_.add_again();
}

void Form1::Form_Terminate() {
  tray_.remove();
}

// ---- The date check -----------------------------------------------------------------------

void Form1::Text7_LostFocus() {
  TextControl& Text7 = field_box(static_cast<std::size_t>(row_of(ids::Text7).field));
  const std::wstring text = Text7.text();
  if (text.empty() || services_.is_date(text)) return;
  services_.show_message(text_of(Message{Says::invalid_date}));
  Text7.set_focus();
}

// ---- The name box look-up ---------------------------------------------------------------

void Form1::Combo1_GotFocus() {
  // Another copy of the program may have saved since this one last read or wrote the
  // records file. Nothing is said when it cannot be read now: the edits read it anyway.
  (void)store_.catch_up();
}

namespace {

// Beyond this many rows changed since the list was last seen, it is filled anew.
constexpr std::size_t kMostFollowedRows = 64;
constexpr std::uint64_t kNotListed = UINT64_MAX;

}  // namespace

void Form1::Combo1_DropDown() {
  // Filled only when it is needed, and only when the table has changed since: a million
  // names take a while to put in a list. After this program's own edits, only the items
  // they changed change.
  const std::uint64_t generation = store_.generation();
  std::vector<ListEdit> edits = std::move(list_edits_);
  list_edits_.clear();
  list_edit_rows_ = 0;
  if (listed_generation_ == generation && edits.empty()) return;
  // Until the list holds the table's names again, it holds nothing known.
  const bool follow = listed_generation_ == generation;
  listed_generation_ = kNotListed;
  // A change of the list that fails is said, and the list is filled anew next time.
  if (follow) {
    for (const ListEdit& edit : edits) {
      switch (edit.kind) {
        case RecordTable::Change::Kind::add:
          if (!report(Combo1.insert_item(edit.rows.front(), edit.name))) return;
          break;
        case RecordTable::Change::Kind::replace:
          for (const std::size_t row : edit.rows) {
            if (!report(Combo1.replace_item(row, edit.name))) return;
          }
          break;
        case RecordTable::Change::Kind::remove:
          for (auto row = edit.rows.rbegin(); row != edit.rows.rend(); ++row) {
            if (!report(Combo1.remove_item(*row))) return;
          }
          break;
      }
    }
  } else {
    const RecordTable& table = store_.table();
    const Status filled = Combo1.replace_list(
        table.count(), [&table](std::size_t row, std::wstring& name) { table.name(row, name); });
    if (!report(filled)) return;
  }
  listed_generation_ = generation;
}

void Form1::follow_edit() {
  const RecordStore::Edit& edit = store_.last_edit();
  // A list that did not hold the table's names before the edit is filled anew.
  if (listed_generation_ != edit.made_on) return;
  listed_generation_ = kNotListed;
  if (edit.rows.empty()) {
    listed_generation_ = store_.generation();
    return;
  }
  list_edit_rows_ += edit.rows.size();
  if (list_edit_rows_ > kMostFollowedRows) {
    list_edits_.clear();
    list_edit_rows_ = 0;
    return;
  }
  try {
    ListEdit followed{edit.kind, edit.rows, {}};
    // The added row stands where its rows() says; the replaced ones all hold the new line.
    if (edit.kind != RecordTable::Change::Kind::remove) {
      followed.name = store_.table().name(edit.rows.front());
    }
    list_edits_.push_back(std::move(followed));
    listed_generation_ = store_.generation();
  } catch (const std::bad_alloc&) {
    list_edits_.clear();  // the edit is saved: the list is filled anew when it is next seen
    list_edit_rows_ = 0;
  }
}

void Form1::Combo1_Change() {
  if (in_change_) return;
  in_change_ = true;
  // Cleared again however the look-up ends, a failure included.
  const ScopeExit change_done([this] { in_change_ = false; });
  const std::size_t row = last_match(Combo1.text());
  if (row < store_.count()) {
    show_row(row);
    Command1.set_enabled(false);
  } else {
    shown_.reset();
    empty_field_boxes();
    Command1.set_enabled(true);
  }
}

void Form1::Combo1_Click(std::wstring_view item) {
  const std::size_t row = last_match(item);
  if (row < store_.count()) show_row(row);
  Command1.set_enabled(false);
}

std::size_t Form1::last_match(std::wstring_view text) const {
  return store_.table().last_match(name_key(text));
}

void Form1::show_row(std::size_t row) {
  const Record record = store_.table().record(row);
  shown_ = record;
  set_name_text(record[0]);
  for (std::size_t field = 1; field < kFieldCount; ++field) {
    field_box(field).set_text(field == kNotesField ? notes_to_box(record[field]) : record[field]);
  }
}

void Form1::empty_field_boxes() {
  for (std::size_t field = 1; field < kFieldCount; ++field) field_box(field).set_text(L"");
}

void Form1::set_name_text(std::wstring_view text) {
  if (Combo1.text() == text) return;
  Combo1.set_text(text);
  Combo1_Change();
}

// ---- The edits ----------------------------------------------------------------------------

Record Form1::record_in_boxes() const {
  Record record;
  record[0] = Combo1.text();
  for (std::size_t field = 1; field < kFieldCount; ++field) {
    record[field] = field_box(field).text();
    if (field == kNotesField) record[field] = notes_from_box(record[field]);
  }
  return record;
}

bool Form1::report(const Status& status) {
  if (status.ok()) return true;
  services_.show_error(text_of(status));
  // The record the user saw was changed outside since: the window shows it as it is now.
  if (status.kind() == Failure::changed) Combo1_Change();
  return false;
}

const Record* Form1::shown_record(std::wstring_view name) const {
  return shown_ && name_key((*shown_)[0]) == name_key(name) ? &*shown_ : nullptr;
}

void Form1::Command1_Click() {
  if (report(store_.add(record_in_boxes()))) follow_edit();
}

void Form1::Command2_Click() {
  const Record record = record_in_boxes();
  if (!report(store_.update(record, shown_record(record[0])))) return;
  follow_edit();
  // What the boxes hold is the record as the file now holds it.
  if (shown_record(record[0]) != nullptr) shown_ = record;
}

void Form1::Command3_Click() {
  const std::wstring name = Combo1.text();
  if (!report(store_.remove(name, shown_record(name)))) return;
  follow_edit();
  set_name_text(L"");
  empty_field_boxes();
}

// ---- Notes --------------------------------------------------------------------------------

std::wstring notes_from_box(std::wstring_view text) {
  std::wstring notes;
  notes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r') {
      // CR LF, or a CR on its own, is one line break.
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      notes += L'\n';
    } else {
      notes += text[i];
    }
  }
  return notes;
}

std::wstring notes_to_box(std::wstring_view notes) {
  std::wstring text;
  text.reserve(notes.size());
  for (const wchar_t c : notes) {
    if (c == L'\n') text += L'\r';
    text += c;
  }
  return text;
}

}  // namespace perlwick

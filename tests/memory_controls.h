#pragma once

// In-memory controls and window services for driving Form1 in tests. Every change the
// handlers make is written to a shared log, so tests can check the order of changes.

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tray/module1.h"
#include "window/controls.h"

namespace perlwick::testing {

using Log = std::vector<std::wstring>;

class MemoryText : public TextControl {
 public:
  MemoryText(std::wstring name, Log& log) : name_(std::move(name)), log_(log) {}
  std::wstring text() const override { return text_; }
  void set_text(std::wstring_view text) override {
    text_ = text;
    log_.push_back(name_ + L"=" + text_);
  }
  void set_focus() override { log_.push_back(name_ + L" focus"); }
  // What typing does: the text changes without the program's set_text.
  void type(std::wstring_view text) { text_ = text; }

 private:
  std::wstring name_;
  Log& log_;
  std::wstring text_;
};

class MemoryCombo final : public ComboControl {
 public:
  explicit MemoryCombo(Log& log) : box_(L"Combo1", log), log_(log) {}
  std::wstring text() const override { return box_.text(); }
  void set_text(std::wstring_view text) override { box_.set_text(text); }
  void set_focus() override { box_.set_focus(); }
  Status replace_list(std::size_t count,
                      const std::function<void(std::size_t, std::wstring&)>& item) override {
    if (refuse) return Status::failure(Message{Says::name_list_not_filled});
    list.assign(count, std::wstring());
    for (std::size_t i = 0; i < count; ++i) item(i, list[i]);
    log_.push_back(L"Combo1 list");
    return {};
  }
  Status insert_item(std::size_t index, std::wstring_view text) override {
    if (refuse) return Status::failure(Message{Says::name_list_not_changed});
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), std::wstring(text));
    log_.push_back(L"Combo1 item+ " + std::to_wstring(index));
    return {};
  }
  Status replace_item(std::size_t index, std::wstring_view text) override {
    list.at(index) = text;
    log_.push_back(L"Combo1 item= " + std::to_wstring(index));
    return {};
  }
  Status remove_item(std::size_t index) override {
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
    log_.push_back(L"Combo1 item- " + std::to_wstring(index));
    return {};
  }
  void type(std::wstring_view text) { box_.type(text); }

  std::vector<std::wstring> list;
  // Set: filling the list and putting an item in fail, and change nothing.
  bool refuse = false;

 private:
  MemoryText box_;
  Log& log_;
};

class MemoryButton final : public ButtonControl {
 public:
  void set_enabled(bool enabled) override { enabled_ = enabled; }
  bool enabled() const override { return enabled_; }

 private:
  bool enabled_ = false;
};

// The window's controls by id: the tests' own controls, each put in under its id.
class MemoryControls final : public Form1Controls {
 public:
  ComboControl& name_box(int id) override { return *name_boxes.at(id); }
  TextControl& text_box(int id) override { return *text_boxes.at(id); }
  ButtonControl& button(int id) override { return *buttons.at(id); }

  std::map<int, ComboControl*> name_boxes;
  std::map<int, TextControl*> text_boxes;
  std::map<int, ButtonControl*> buttons;
};

class MemoryServices final : public FormServices {
 public:
  int screen_height_twips() const override { return screen_height; }
  void move_to(int left, int top) override {
    moved_left = left;
    moved_top = top;
  }
  void show_error(std::wstring_view message) override { errors.emplace_back(message); }
  void show_message(std::wstring_view message) override { messages.emplace_back(message); }
  void show_wait_cursor() override { ++waits; }
  bool is_date(std::wstring_view text) override {
    dates_asked.emplace_back(text);
    return dates.count(std::wstring(text)) != 0;
  }
  void hide() override { shown = false; }
  void show_normal() override {
    shown = true;
    ++restores;
  }

  int screen_height = 11520;
  int moved_left = -1;
  int moved_top = -1;
  std::vector<std::wstring> errors;
  std::vector<std::wstring> messages;
  std::set<std::wstring> dates = {L"2024-01-15", L"1/15/2024"};
  std::vector<std::wstring> dates_asked;
  bool shown = true;
  int restores = 0;
  int waits = 0;
};

// The shell's notification area: records every call with the record's bytes.
class MemoryShell final : public ShellTray {
 public:
  struct Call {
    TrayCall call;
    std::vector<unsigned char> bytes;
  };

  bool notify(TrayCall call, const NotifyIconRecord& record) override {
    std::vector<unsigned char> bytes(sizeof record);
    std::memcpy(bytes.data(), &record, sizeof record);
    calls.push_back({call, bytes});
    return succeed;
  }

  std::vector<Call> calls;
  bool succeed = true;
};

// Module1 with what only the tests look at in view.
class TestedModule1 final : public Module1 {
 public:
  using Module1::in_place;
  using Module1::Module1;
  using Module1::record;
};

}  // namespace perlwick::testing

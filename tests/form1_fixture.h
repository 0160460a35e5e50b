#pragma once

// Form1 driven with in-memory controls, on a records file in a folder of its own.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "memory_controls.h"
#include "test_files.h"
#include "window/form1.h"

namespace perlwick::testing {

// Form1 with what only the tests look at in view.
class TestedForm1 final : public Form1 {
 public:
  using Form1::Form1;
  using Form1::store;
};

// A record line whose fields after the name say which line it was.
inline std::string line(const std::string& name, const std::string& tag) {
  return name + "~~url " + tag + "~~link " + tag + "~~user " + tag + "~~pw " + tag + "~~" + tag +
         "%~~date " + tag + "~~notes " + tag + "\r\n";
}

inline std::wstring wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

class Form1Test : public ::testing::Test {
 protected:
  // The boxes as the window's table lists them, each logging under its control's name.
  Form1Test() {
    for (const ControlRow& row : kForm1Controls) {
      if (row.kind == ControlKind::name_box) {
        controls.name_boxes[row.id] = &combo;
      } else if (is_box(row.kind)) {
        const auto made =
            texts.try_emplace(row.id, L"Text" + std::to_wstring(row.field + 1), log).first;
        controls.text_boxes[row.id] = &made->second;
      }
    }
    controls.buttons = {{ids::Command1, &add}};
  }

  // Starts the window on a records file holding bytes (none: no file).
  void start(const std::string* bytes) {
    if (bytes != nullptr) write_file(path(), *bytes);
    form =
        std::make_unique<TestedForm1>(controls, services, tray, path(), files, private_dir.path());
    form->Form_Load();
    form->Form_Initialize(0x1000, 0x2000);
    form->Combo1_GotFocus();
    form->Form_Shown();
    log.clear();
  }
  void start(const std::string& bytes) { start(&bytes); }

  std::filesystem::path path() const { return dir.file("records.txt"); }

  // The name box's list as the user sees it when it drops down.
  const std::vector<std::wstring>& open_list() {
    form->Combo1_DropDown();
    return combo.list;
  }

  void type(const std::wstring& text) {
    combo.type(text);
    form->Combo1_Change();
  }

  // The box of that id.
  MemoryText& box(int id) { return texts.at(id); }

  // The texts of the boxes after the name box, in the order of their fields.
  std::vector<std::wstring> fields() const {
    std::vector<std::wstring> shown;
    for (std::size_t field = 1; field < kFieldCount; ++field) {
      shown.push_back(texts.at(box_row(field).id).text());
    }
    return shown;
  }
  std::vector<std::wstring> fields_of(const std::string& tag) const {
    const std::wstring t = wide(tag);
    return {L"url " + t, L"link " + t, L"user " + t, L"pw " + t,
            t + L"%",    L"date " + t, L"notes " + t};
  }
  void fill_boxes(const std::wstring& name, const std::wstring& tag) {
    combo.type(name);
    for (std::size_t field = 1; field < kFieldCount; ++field) {
      box(box_row(field).id).type(tag + L" " + std::to_wstring(field));
    }
  }

  TempDir dir;
  TempDir private_dir;
  FaultyFileSystem files;
  Log log;
  MemoryCombo combo{log};
  // The boxes after the name box, by id.
  std::map<int, MemoryText> texts;
  MemoryButton add;
  MemoryControls controls;
  MemoryServices services;
  MemoryShell shell;
  TestedModule1 tray{shell};
  std::unique_ptr<TestedForm1> form;
};

}  // namespace perlwick::testing

#pragma once

// Form1 driven with in-memory controls, on a records file in a folder of its own.

#include <gtest/gtest.h>

#include <filesystem>
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
  // Starts the window on a records file holding bytes (none: no file).
  void start(const std::string* bytes) {
    if (bytes != nullptr) write_file(path(), *bytes);
    controls.name_boxes = {{ids::Combo1, &combo}};
    controls.text_boxes = {{ids::Text2, &text2}, {ids::Text3, &text3}, {ids::Text4, &text4},
                           {ids::Text5, &text5}, {ids::Text6, &text6}, {ids::Text7, &text7},
                           {ids::Text8, &text8}};
    controls.buttons = {{ids::Command1, &add}};
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

  // The texts of Text2 to Text8.
  std::vector<std::wstring> fields() const {
    return {text2.text(), text3.text(), text4.text(), text5.text(),
            text6.text(), text7.text(), text8.text()};
  }
  std::vector<std::wstring> fields_of(const std::string& tag) const {
    const std::wstring t = wide(tag);
    return {L"url " + t, L"link " + t, L"user " + t, L"pw " + t,
            t + L"%",    L"date " + t, L"notes " + t};
  }
  void fill_boxes(const std::wstring& name, const std::wstring& tag) {
    combo.type(name);
    MemoryText* boxes[] = {&text2, &text3, &text4, &text5, &text6, &text7, &text8};
    for (std::size_t i = 0; i < 7; ++i) boxes[i]->type(tag + L" " + std::to_wstring(i + 1));
  }

  TempDir dir;
  TempDir private_dir;
  FaultyFileSystem files;
  Log log;
  MemoryCombo combo{log};
  MemoryText text2{L"Text2", log}, text3{L"Text3", log}, text4{L"Text4", log}, text5{L"Text5", log},
      text6{L"Text6", log}, text7{L"Text7", log}, text8{L"Text8", log};
  MemoryButton add;
  MemoryControls controls;
  MemoryServices services;
  MemoryShell shell;
  TestedModule1 tray{shell};
  std::unique_ptr<TestedForm1> form;
};

}  // namespace perlwick::testing

#pragma once

// The operations the window's handlers use on its controls and on the window itself.
// The program implements them over Win32 windows; the tests implement them in memory.
// None of them runs a handler: when the program changes the name box's text, Form1 runs
// the change handler itself.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "common/status.h"

namespace perlwick {

class TextControl {
 public:
  virtual ~TextControl() = default;
  virtual std::wstring text() const = 0;
  // Replaces the text and puts the caret at its end.
  virtual void set_text(std::wstring_view text) = 0;
  virtual void set_focus() = 0;
};

class ComboControl : public TextControl {
 public:
  // Empties the list and fills it with count items, in order: item(i, text) sets text to
  // the i-th. The text in the edit field, its caret and its selection stay as they are. A
  // failure leaves the list holding part of the items.
  virtual Status replace_list(std::size_t count,
                              const std::function<void(std::size_t, std::wstring&)>& item) = 0;
  // Changes one item of the list: puts text before the index-th (at the end when index is
  // the count), makes the index-th read text, or removes it. The edit field stays as it is.
  virtual Status insert_item(std::size_t index, std::wstring_view text) = 0;
  virtual Status replace_item(std::size_t index, std::wstring_view text) = 0;
  virtual Status remove_item(std::size_t index) = 0;
};

class ButtonControl {
 public:
  virtual ~ButtonControl() = default;
  virtual void set_enabled(bool enabled) = 0;
  virtual bool enabled() const = 0;
};

// The window's controls, found by the ids their rows in form1_table.h give them. Each
// lives as long as the window.
class Form1Controls {
 public:
  virtual ~Form1Controls() = default;
  virtual ComboControl& name_box(int id) = 0;
  virtual TextControl& text_box(int id) = 0;
  virtual ButtonControl& button(int id) = 0;
};

// The window around the controls and the platform services its handlers need.
class FormServices {
 public:
  virtual ~FormServices() = default;
  // Height of the whole screen, in twips.
  virtual int screen_height_twips() const = 0;
  // Moves the window's outer top-left corner (frame included), in twips.
  virtual void move_to(int left_twips, int top_twips) = 0;
  // A modal box titled "Perlwick" with an OK button, telling the user what went wrong.
  virtual void show_error(std::wstring_view message) = 0;
  // A modal box titled "Perlwick" with the message, an OK button and no icon.
  virtual void show_message(std::wstring_view message) = 0;
  // Shows the wait cursor until the user next moves the mouse after the handler ends.
  virtual void show_wait_cursor() = 0;
  // Whether the user's regional settings read text as a date.
  virtual bool is_date(std::wstring_view text) = 0;
  // Takes the window off the screen and the taskbar; everything in it stays.
  virtual void hide() = 0;
  // Shows the window in its normal state, neither minimised nor maximised.
  virtual void show_normal() = 0;
};

}  // namespace perlwick

#include "window/messages.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "common/hex.h"
#include "window/form1_table.h"

namespace perlwick {
namespace {

// Each message's sentences: {0}, {1}, ... stand for the texts it names, {within} for the
// messages it holds, one paragraph each. A path stands on a line of its own, where a
// message box cannot break it.
std::wstring_view wording(Says says) {
  switch (says) {
    case Says::nothing:
      return L"";
    case Says::reason:
      return L"{0}";
    case Says::windows_error:
      return L"{0} (error {1})";
    case Says::paragraphs:
      return L"{within}";
    case Says::nothing_saved:
    case Says::not_saved:
      return L"{within}\n\nNothing was saved.";
    case Says::nothing_saved_try_again:
      return L"{within}\n\nNothing was saved. Try again in a moment.";
    case Says::not_read:
      return L"{within}\n\nPerlwick opens with no records for now, and saves no change until "
             L"it can read the records file.";
    case Says::changed_since_shown:
      return L"Nothing was saved: the record \"{0}\" was changed by another program or another "
             L"copy of Perlwick since it was shown. The records file:\n{1}\n\nThe window now "
             L"shows the record as the file holds it. Make your change again if it is still "
             L"needed, then press the button again.";
    case Says::field_has_separator:
      return L"it contains \"~~\", which the records file uses to separate fields.";
    case Says::field_ends_in_tilde:
      return L"it ends with \"~\", which would run into the field separator \"~~\" that follows "
             L"it.";
    case Says::field_has_carriage_return:
      return L"it contains a carriage return, which would end the record's line.";
    case Says::char_not_in_code_page:
      return L"its {1} character, {0}{2}, has no exact form in the system's code page, in which "
             L"the records file is kept. (Its character code is {3}.)";
    case Says::chars_not_in_code_page:
      return L"some of its characters have no exact form in the system's code page.";
    case Says::another_copy_saving:
      return L"Another copy of Perlwick is saving to the records file\n{0}\nand has not finished "
             L"within {1} seconds.";
    case Says::lock_failed:
      return L"Could not make sure that no other copy of Perlwick is saving: {within}.";
    case Says::read_only:
      return L"The records file\n{0}\nis marked read-only, so Perlwick does not change it.\n\nTo "
             L"save changes, clear its read-only attribute (in the file's Properties) and try "
             L"again.";
    case Says::no_records_file_refused:
      return L"The records file\n{0}\ndoes not exist, and Windows lets only administrators create "
             L"files at the top of drive C:.\n\nInstall Perlwick with its installer, which "
             L"creates the records file for you, or create the file once as administrator (an "
             L"empty file will do) and give your account the right to change it.";
    case Says::not_enough_memory_to_read:
      return L"There was not enough memory to read the records file\n{0}";
    case Says::not_enough_memory_to_save:
      return L"There was not enough memory to save the change.\n\nThe records file was not "
             L"changed.";
    case Says::too_large_to_read:
      return L"The records file\n{0}\nis too large for Perlwick to read.";
    case Says::too_large_to_save:
      return L"The change is too large to save.\n\nThe records file was not changed.";
    case Says::unreadable:
      return L"Could not read the records file\n{0}\n{within}.";
    case Says::new_file_not_created:
      return L"a new file could not be created beside {0}: {within}";
    case Says::not_replaced:
      return L"{0} could not be replaced: {within}";
    case Says::folder_not_created:
      return L"the folder {0} could not be created: {within}";
    case Says::file_not_created:
      return L"{0} could not be created: {within}";
    case Says::writing_failed:
      return L"writing {0} failed: {within}";
    case Says::ending_failed:
      return L"ending {0} failed: {within}";
    case Says::flushing_failed:
      return L"flushing {0} failed: {within}";
    case Says::closing_failed:
      return L"closing {0} failed: {within}";
    case Says::opening_failed:
      return L"opening {0} for writing failed: {within}";
    case Says::not_saved_completely:
      return L"Could not save the change completely: {within}.\n\nThe change is kept in\n{0}\nand "
             L"Perlwick finishes it the next time it starts or saves.";
    case Says::pending_copy_unreadable:
      return L"Could not read\n{0}\nwhich holds a change to the records file that was not "
             L"finished: {within}.";
    case Says::earlier_change_not_finished:
      return L"Could not finish saving an earlier change to the records file\n{0}\n{within}";
    case Says::change_not_kept:
      return L"Could not keep an interrupted change to the records file in\n{0}\n{within}.";
    case Says::change_kept_aside:
      return L"A change to the records file\n{0}\nwas interrupted, and the file has been changed "
             L"by something else since (a backup put back, or another account's Perlwick). "
             L"Perlwick left the records file as it is and kept the records of the interrupted "
             L"change in\n{1}";
    case Says::not_moved_aside:
      return L"Could not move\n{0}\naside: {within}.";
    case Says::unknown_copy_moved_aside:
      return L"Perlwick found\n{0}\nwhich it does not recognise as one of its own unfinished "
             L"changes, and moved it to\n{1}\nThe records file\n{2}\nwas not changed.";
    case Says::save_not_put_back:
      return L"Could not put\n{0}\nthe records file as an interrupted save left it, in place of "
             L"the missing\n{1}\n{within}.";
    case Says::entry_unreadable:
      return L"its details could not be read";
    case Says::folder_unreadable:
      return L"Could not look in the folder\n{0}\nfor what an interrupted save may have left "
             L"there: {within}.";
    case Says::save_kept_aside:
      return L"The records file\n{0}\nis missing. A save that was interrupted left\n{1}\nwhich "
             L"may be incomplete: Perlwick kept it. If it holds all your records, rename it to "
             L"{2}.";
    case Says::window_not_created:
      return L"Windows could not create Perlwick's window.";
    case Says::controls_not_created:
      return L"Windows could not create the controls.";
    case Says::not_started:
      return L"Perlwick could not start.";
    case Says::out_of_memory:
      return L"Perlwick ran out of memory and could not finish that.";
    case Says::not_finished:
      return L"Perlwick could not finish that.";
    case Says::not_finished_because:
      return L"Perlwick could not finish that: {within}";
    case Says::box_not_read:
      return L"Perlwick could not finish that: Windows could not read the text of a box.";
    case Says::name_list_not_filled:
      return L"Perlwick could not finish that: Windows could not fill the product name list.";
    case Says::name_list_not_changed:
      return L"Perlwick could not finish that: Windows could not change the product name list.";
    case Says::window_not_hidden:
      return L"The window cannot be hidden: its icon could not be put in the notification area, "
             L"and without it the window could not be brought back.";
    case Says::invalid_date:
      return L"Invalid date";
  }
  return L"";
}

// What a system failure of a kind means, in plain words, and what to do about it when
// saving and at the start. Nothing for kinds the messages say otherwise.
struct PlainWords {
  std::wstring_view what;
  std::wstring_view to_save;
  std::wstring_view at_start;
};

std::optional<PlainWords> plain_words(Failure kind) {
  switch (kind) {
    case Failure::held:
      return PlainWords{
          L"another program has the records file open",
          L"Close the file in that program (a spreadsheet or an editor showing it, for "
          L"example), then press the button again.",
          L"Close the file in that program (a spreadsheet or an editor showing it, for "
          L"example)."};
    case Failure::denied:
      return PlainWords{
          L"Windows did not let Perlwick at the records file",
          L"A program that checks files may have had it for a moment: press the button again. "
          L"If the same happens, make sure your account may change the file (the file's "
          L"Properties, Security).",
          L"Make sure your account may read and change the file (the file's Properties, "
          L"Security)."};
    case Failure::write_protected:
      return PlainWords{L"the disk that holds the records file is write-protected",
                        L"Remove the disk's write protection, then press the button again.",
                        L"Remove the disk's write protection."};
    case Failure::full:
      return PlainWords{L"the disk is full",
                        L"Make room on the disk (empty the Recycle Bin, for example), then press "
                        L"the button again.",
                        L"Make room on the disk (empty the Recycle Bin, for example)."};
    case Failure::gone:
      return PlainWords{L"the drive or the folder that holds the records file cannot be reached",
                        L"Connect the drive again, then press the button again.",
                        L"Connect the drive again."};
    case Failure::too_large:
      return PlainWords{L"the records file would be larger than its disk allows",
                        L"Delete records you no longer need, then press the button again.",
                        L"Keep the records file on a disk that allows larger files."};
    case Failure::other:
    case Failure::missing:
    case Failure::taken:
    case Failure::refused:
    case Failure::unprotected:
      return PlainWords{L"Windows reported an error",
                        L"Press the button again. If the same happens, the words in parentheses "
                        L"below say what went wrong, for whoever helps you.",
                        L"If the same happens at the next start, the words in parentheses below "
                        L"say what went wrong, for whoever helps you."};
    case Failure::none:
    case Failure::busy:
    case Failure::changed:
      break;
  }
  return std::nullopt;
}

// The first system failure a message holds: the one that stopped it.
const Message* system_failure(const Message& message) {
  if (message.says == Says::reason || message.says == Says::windows_error) {
    return message.kind == Failure::none ? nullptr : &message;
  }
  for (const Message& held : message.within) {
    if (const Message* found = system_failure(held)) return found;
  }
  return nullptr;
}

// Whether the message says why a field's text cannot be stored.
bool about_a_field(Says says) {
  return says == Says::field_has_separator || says == Says::field_ends_in_tilde ||
         says == Says::field_has_carriage_return || says == Says::char_not_in_code_page ||
         says == Says::chars_not_in_code_page;
}

// The character code of c, as U+65E5.
std::wstring code_of(std::wstring_view c) {
  unsigned long value = c.empty() ? 0ul : static_cast<unsigned long>(c[0]);
  if (c.size() > 1 && c[0] >= 0xD800 && c[0] < 0xDC00) {  // a pair of UTF-16 halves
    value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<unsigned long>(c[1]) - 0xDC00);
  }
  const std::wstring digits = hex_digits<wchar_t>(value, 6, HexLetters::upper);
  // At least four digits, as Unicode writes them.
  return L"U+" + digits.substr(std::min(digits.find_first_not_of(L'0'), digits.size() - 4));
}

// 1st, 2nd, 3rd, 4th, ... 11th, 12th, 13th, ... 21st.
std::wstring ordinal(std::wstring_view number) {
  const std::wstring n(number);
  const wchar_t last = n.empty() ? L'0' : n.back();
  const bool teen = n.size() > 1 && n[n.size() - 2] == L'1';
  if (!teen && last == L'1') return n + L"st";
  if (!teen && last == L'2') return n + L"nd";
  if (!teen && last == L'3') return n + L"rd";
  return n + L"th";
}

// The texts a message's words name: as the store gives them, but for a character that
// cannot be stored, which is named so that it can be found (the character, where it stands
// and what comes before it), with its code only as a help.
std::vector<std::wstring> named(const Message& message) {
  if (message.says == Says::windows_error && !message.names.empty() && message.names[0].empty()) {
    std::vector<std::wstring> names = message.names;
    names[0] = L"system error";  // Windows has no words for the code
    return names;
  }
  if (message.says != Says::char_not_in_code_page || message.names.size() < 3) {
    return message.names;
  }
  const std::wstring& c = message.names[0];
  const std::wstring& before = message.names[2];
  return {L"\"" + c + L"\"", ordinal(message.names[1]),
          before.empty() ? std::wstring() : L", which follows \"" + before + L"\"", code_of(c)};
}

// Fills words with the message's names and, for {within}, what inner makes of each
// message it holds, one paragraph each.
std::wstring filled(std::wstring_view words, const Message& message,
                    const std::function<std::wstring(const Message&)>& inner) {
  const std::vector<std::wstring> names = named(message);
  std::wstring text;
  for (std::size_t at = 0; at < words.size();) {
    const std::size_t open = words.find(L'{', at);
    text += words.substr(at, open - at);
    if (open == std::wstring_view::npos) break;
    const std::size_t close = words.find(L'}', open);
    const std::wstring_view slot = words.substr(open + 1, close - open - 1);
    if (slot == L"within") {
      for (const Message& paragraph : message.within) {
        if (&paragraph != &message.within.front()) text += L"\n\n";
        text += inner(paragraph);
      }
    } else {
      const std::size_t n = static_cast<std::size_t>(slot[0] - L'0');
      if (n < names.size()) text += names[n];
    }
    at = close + 1;
  }
  return text;
}

// What went wrong, on one line, for whoever helps the user: the step that failed, on what,
// and the system's own words.
std::wstring details(const Message& message) {
  if (message.says == Says::unreadable) return filled(L"reading {0}: {within}", message, details);
  std::wstring text = filled(wording(message.says), message, details);
  std::replace(text.begin(), text.end(), L'\n', L' ');
  return text;
}

// A save that saved nothing, or a start that could not read the records file, because
// of a system failure: what happened, what was kept and what to do, then the details.
// Nothing where the failure is not one of those.
std::optional<std::wstring> in_plain_words(const Message& message) {
  const bool saving = message.says != Says::not_read;
  if (message.within.empty() || message.names.empty()) return std::nullopt;
  const Message& cause = message.within.back();
  const Message* failure = system_failure(cause);
  const std::optional<PlainWords> words =
      failure != nullptr ? plain_words(failure->kind) : std::nullopt;
  if (!words) return std::nullopt;
  std::wstring text;
  // What was set aside on the way comes first.
  for (std::size_t i = 0; i + 1 < message.within.size(); ++i) {
    text += text_of(message.within[i]) + L"\n\n";
  }
  text +=
      saving ? L"Perlwick could not save the change: " : L"Perlwick could not read your records: ";
  text += std::wstring(words->what) + L". The records file:\n" + message.names[0] + L"\n\n";
  if (saving) {
    text += std::wstring(words->to_save) + L" Nothing was saved, and the boxes keep their text.";
  } else {
    text += std::wstring(words->at_start) +
            L" Until then Perlwick shows no records and saves no change; it reads the file "
            L"again when you come back to its window.";
  }
  return text + L"\n\n(" + details(cause) + L")";
}

}  // namespace

std::wstring text_of(const Message& message) {
  if (message.says == Says::nothing_saved || message.says == Says::not_saved ||
      message.says == Says::not_read) {
    if (std::optional<std::wstring> plain = in_plain_words(message)) return *plain;
  }
  const std::wstring text =
      filled(wording(message.says), message, [](const Message& m) { return text_of(m); });
  if (about_a_field(message.says)) {
    return L"The " + std::wstring(field_caption(message.field)) + L" text cannot be stored: " +
           text + L"\n\nNothing was saved.";
  }
  return text;
}

std::wstring text_of(const Status& status) {
  return text_of(status.message());
}

const wchar_t* fixed_text_of(Says says) noexcept {
  const std::wstring_view words = wording(says);
  // Every wording is a whole literal, and ends where the literal ends.
  return words.find(L'{') == std::wstring_view::npos ? words.data() : L"";
}

}  // namespace perlwick

#include "window/messages.h"

#include <string_view>

#include "window/form1_table.h"

namespace perlwick {
namespace {

// Each message's sentences: {0}, {1}, ... stand for the texts it names, {within} for the
// messages it holds, one paragraph each.
std::wstring_view wording(Says says) {
  switch (says) {
    case Says::nothing:
      return L"";
    case Says::reason:
      return L"{0}";
    case Says::paragraphs:
      return L"{within}";
    case Says::nothing_saved:
      return L"{within}\n\nNothing was saved.";
    case Says::nothing_saved_try_again:
      return L"{within}\n\nNothing was saved. Try again in a moment.";
    case Says::field_has_separator:
      return L"it contains \"~~\", which the records file uses to separate fields.";
    case Says::field_ends_in_tilde:
      return L"it ends with \"~\", which would run into the field separator \"~~\" that follows "
             L"it.";
    case Says::field_has_carriage_return:
      return L"it contains a carriage return, which would end the record's line.";
    case Says::char_not_in_code_page:
      return L"the character {0} has no exact form in the system's code page.";
    case Says::chars_not_in_code_page:
      return L"some of its characters have no exact form in the system's code page.";
    case Says::another_copy_saving:
      return L"Another copy of Perlwick is saving to the records file {0} and has not finished "
             L"within {1} seconds.";
    case Says::lock_failed:
      return L"Could not make sure that no other copy of Perlwick is saving: {within}.";
    case Says::read_only:
      return L"The records file {0} is marked read-only, so Perlwick does not change it.\n\nTo "
             L"save changes, clear its read-only attribute (in the file's Properties) and try "
             L"again.";
    case Says::no_records_file_refused:
      return L"The records file {0} does not exist, and Windows lets only administrators create "
             L"files at the top of drive C:.\n\nInstall Perlwick with its installer, which "
             L"creates the records file for you, or create the file once as administrator (an "
             L"empty file will do) and give your account the right to change it.";
    case Says::not_enough_memory_to_read:
      return L"There was not enough memory to read the records file {0}.";
    case Says::not_enough_memory_to_save:
      return L"There was not enough memory to save the change.\n\nThe records file was not "
             L"changed.";
    case Says::too_large_to_read:
      return L"The records file {0} is too large for Perlwick to read.";
    case Says::too_large_to_save:
      return L"The change is too large to save.\n\nThe records file was not changed.";
    case Says::unreadable:
      return L"Could not read the records file {0}: {within}.";
    case Says::not_saved:
      return L"Could not save the change: {within}.\n\nThe records file was not changed.";
    case Says::new_file_not_created:
      return L"a new file could not be created beside {0}: {within}";
    case Says::not_replaced:
      return L"the records file {0} could not be replaced: {within}";
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
      return L"opening the records file {0} for writing failed: {within}";
    case Says::not_saved_completely:
      return L"Could not save the change completely: {within}.\n\nThe change is kept in {0}, "
             L"and Perlwick finishes it the next time it starts or saves.";
    case Says::pending_copy_unreadable:
      return L"Could not read {0}, which holds a change to the records file that was not "
             L"finished: {within}.";
    case Says::earlier_change_not_finished:
      return L"Could not finish saving an earlier change to the records file {0}: {within}";
    case Says::change_not_kept:
      return L"Could not keep an interrupted change to the records file in {0}: {within}.";
    case Says::change_kept_aside:
      return L"A change to the records file {0} was interrupted, and the file has been changed "
             L"by something else since (a backup put back, or another account's Perlwick). "
             L"Perlwick left the records file as it is and kept the records of the interrupted "
             L"change in {1}.";
    case Says::not_moved_aside:
      return L"Could not move {0} aside: {within}.";
    case Says::unknown_copy_moved_aside:
      return L"Perlwick found {0}, which it does not recognise as one of its own unfinished "
             L"changes, and moved it to {1}. The records file {2} was not changed.";
    case Says::save_not_put_back:
      return L"Could not put {0}, the records file as an interrupted save left it, in place of "
             L"the missing {1}: {within}.";
    case Says::entry_unreadable:
      return L"its details could not be read";
    case Says::folder_unreadable:
      return L"Could not look in the folder {0} for what an interrupted save may have left there: "
             L"{within}.";
    case Says::save_kept_aside:
      return L"The records file {0} is missing. A save that was interrupted left {1}, which may "
             L"be incomplete: Perlwick kept it. If it holds all your records, rename it to {2}.";
  }
  return L"";
}

// Whether the message says why a field's text cannot be stored.
bool about_a_field(Says says) {
  return says == Says::field_has_separator || says == Says::field_ends_in_tilde ||
         says == Says::field_has_carriage_return || says == Says::char_not_in_code_page ||
         says == Says::chars_not_in_code_page;
}

// A character as a message names it: itself and its code, as "x" (U+0078).
std::wstring character(std::wstring_view text) {
  static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  const auto value = text.empty() ? 0ul : static_cast<unsigned long>(text[0]);
  std::wstring code = L"U+";
  for (int shift = (value > 0xFFFF ? 20 : 12); shift >= 0; shift -= 4) {
    code += kHex[(value >> shift) & 0xF];
  }
  return L"\"" + std::wstring(text) + L"\" (" + code + L")";
}

}  // namespace

std::wstring text_of(const Message& message) {
  std::wstring text;
  const std::wstring_view words = wording(message.says);
  for (std::size_t at = 0; at < words.size();) {
    const std::size_t open = words.find(L'{', at);
    text += words.substr(at, open - at);
    if (open == std::wstring_view::npos) break;
    const std::size_t close = words.find(L'}', open);
    const std::wstring_view slot = words.substr(open + 1, close - open - 1);
    if (slot == L"within") {
      for (const Message& paragraph : message.within) {
        if (&paragraph != &message.within.front()) text += L"\n\n";
        text += text_of(paragraph);
      }
    } else {
      const std::size_t n = static_cast<std::size_t>(slot[0] - L'0');
      if (n < message.names.size()) {
        text += message.says == Says::char_not_in_code_page ? character(message.names[n])
                                                            : message.names[n];
      }
    }
    at = close + 1;
  }
  if (about_a_field(message.says)) {
    return L"The " + std::wstring(field_caption(message.field)) + L" text cannot be stored: " +
           text + L"\n\nNothing was saved.";
  }
  return text;
}

std::wstring text_of(const Status& status) {
  return text_of(status.message());
}

}  // namespace perlwick

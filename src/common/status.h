#pragma once

// How the program says what happened: a Status is success or a failure, and a failure
// carries a Message for the user. A message says what it means and names the files,
// counts and system reasons it is about; every sentence the user reads is worded in
// window/messages.cpp, and nowhere else. A Status carries a meaning, and a system's own
// words (a SystemReason) only: never a sentence of ours.

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace perlwick {

// What kind of failure it was: what a caller acts on, and what the user is told.
enum class Failure {
  none,
  other,
  missing,          // the file does not exist
  refused,          // the folder does not let this account create files in it
  taken,            // a file of that name exists
  unprotected,      // the new file could not be given the protection it was to have
  busy,             // another copy of the program held the lock for the whole wait
  held,             // another program has the file open, or a part of it locked
  denied,           // the system denied access to the file
  write_protected,  // the disk is write-protected
  full,             // the disk is full
  gone,             // the folder or the drive is not there (any more)
  too_large,        // the file would be larger than its file system allows
  changed,          // the record was changed outside since the window showed it
};

// What a message says, by its meaning.
enum class Says {
  nothing,  // no message
  reason,   // the system's reason for a failure, as the system words it: names[0]
  // Windows' reason for a failure: names[0] its words (empty where it had none), names[1]
  // the error code.
  windows_error,
  paragraphs,  // the messages within, one after another
  // An edit saved nothing: names[0] is the records file; the messages within say what was
  // set aside on the way, and last why.
  nothing_saved,
  nothing_saved_try_again,
  // A load failed: names[0] is the records file; the last message within says why.
  not_read,
  // The record the user saw was changed outside: names[0] is its name, names[1] the
  // records file.
  changed_since_shown,
  // A field's text cannot be stored in the records file (field names the field; for
  // char_not_in_code_page, names[0] is the character, names[1] which character of the
  // text it is, names[2] what comes before it).
  field_has_separator,
  field_ends_in_tilde,
  field_has_carriage_return,
  char_not_in_code_page,
  chars_not_in_code_page,
  // The edit lock: names[0] is the records file, names[1] the seconds waited.
  another_copy_saving,
  lock_failed,
  read_only,
  no_records_file_refused,
  not_enough_memory_to_read,
  not_enough_memory_to_save,
  too_large_to_read,
  too_large_to_save,
  unreadable,
  // Saving failed, and the records file was not changed: names[0] is the records file;
  // within says how.
  not_saved,
  new_file_not_created,
  not_replaced,
  folder_not_created,
  file_not_created,
  writing_failed,
  ending_failed,
  flushing_failed,
  closing_failed,
  opening_failed,
  // A rewrite in place failed, and its copy finishes it later: names[0] is the copy.
  not_saved_completely,
  // What interrupted saves left.
  pending_copy_unreadable,
  earlier_change_not_finished,
  change_not_kept,
  change_kept_aside,
  not_moved_aside,
  unknown_copy_moved_aside,
  save_not_put_back,
  entry_unreadable,
  folder_unreadable,
  save_kept_aside,
  // The window's own failures.
  window_not_created,
  controls_not_created,
  not_started,
  out_of_memory,         // a handler ran out of memory
  not_finished,          // a handler failed, and nothing says why
  not_finished_because,  // a handler failed: within says why
  box_not_read,          // a handler could not read a box's text
  name_list_not_filled,  // the name box's list
  name_list_not_changed,
  window_not_hidden,  // the tray icon, which brings the window back, could not be put
  invalid_date,       // what the Date Joined box holds is not a date
};

// A system's own words for why something failed, and Windows' code for it: made only from
// what a system gave, so that no sentence of ours travels in a Status. Empty where the
// system said nothing (a lock that stayed taken).
class SystemReason {
 public:
  SystemReason() = default;

  const std::wstring& words() const { return words_; }
  const std::optional<unsigned long>& windows_code() const { return windows_code_; }

#ifdef _WIN32
  // FormatMessageW's words for a Windows error code, and the code.
  static SystemReason of_windows_error(unsigned long code);
#else
  // strerror's words for an errno.
  static SystemReason of_errno(int error);
#endif
  // The text of an exception that was not expected, in the system's code page.
  static SystemReason of(const std::exception& failure);

 private:
  explicit SystemReason(std::wstring words, std::optional<unsigned long> windows_code = {})
      : words_(std::move(words)), windows_code_(windows_code) {}

  std::wstring words_;
  std::optional<unsigned long> windows_code_;
};

// A message for the user: what it says, the field it is about, the texts it names
// (paths, counts, reasons) in order, and the messages it holds (a failure's cause, the
// paragraphs of a notice).
struct Message {
  Message() = default;
  Message(Says what, std::vector<std::wstring> named = {}, std::vector<Message> holds = {},
          std::size_t about_field = 0)
      : says(what), names(std::move(named)), within(std::move(holds)), field(about_field) {}

  Says says = Says::nothing;
  std::vector<std::wstring> names;
  std::vector<Message> within;
  std::size_t field = 0;
  // For a system's reason: the kind of failure it gives.
  Failure kind = Failure::none;
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  // A failure for which the system gave its reason.
  static Status failure(SystemReason reason) { return failure(Failure::other, std::move(reason)); }
  static Status failure(Failure kind, SystemReason reason) {
    const std::optional<unsigned long> code = reason.windows_code();
    Message message(code ? Says::windows_error : Says::reason, {reason.words()});
    if (code) message.names.push_back(std::to_wstring(*code));
    message.kind = kind;
    return Status(kind, std::move(message));
  }
  // A failure that says message.
  static Status failure(Message message, Failure kind = Failure::other) {
    return Status(kind, std::move(message));
  }

  bool ok() const { return kind_ == Failure::none; }
  Failure kind() const { return kind_; }
  const Message& message() const { return message_; }

 private:
  Status(Failure kind, Message message) : kind_(kind), message_(std::move(message)) {}

  Failure kind_ = Failure::none;
  Message message_;
};

}  // namespace perlwick

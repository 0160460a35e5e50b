#pragma once

#include <string>
#include <utility>

namespace perlwick {

// The outcome of an operation that can fail: success, or a failure with a message
// written for the user.
class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status failure(std::wstring message) { return Status(std::move(message)); }

  bool ok() const { return !failed_; }
  const std::wstring& message() const { return message_; }

 private:
  explicit Status(std::wstring message) : failed_(true), message_(std::move(message)) {}

  bool failed_ = false;
  std::wstring message_;
};

}  // namespace perlwick

#pragma once

// The words of what the program tells the user: each message the store gives, and each
// of its sentences, is worded here, in one place.

#include <string>

#include "common/status.h"

namespace perlwick {

// The text of a message, as the user reads it; empty for no message.
std::wstring text_of(const Message& message);
std::wstring text_of(const Status& status);

}  // namespace perlwick

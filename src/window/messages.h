#pragma once

// The words of what the program tells the user: every message, the store's and the
// window's own, and each of its sentences, is worded in messages.cpp, and nowhere else.
// A Status carries a meaning and a system's own words only.

#include <string>

#include "common/status.h"

namespace perlwick {

// The text of a message, as the user reads it; empty for no message.
std::wstring text_of(const Message& message);
std::wstring text_of(const Status& status);

// The text of a message that names nothing and holds nothing, read without taking any
// memory: for when memory has run out, or the program could not start. Empty for a
// message that names something.
const wchar_t* fixed_text_of(Says says) noexcept;

}  // namespace perlwick

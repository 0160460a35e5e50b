#pragma once

// Numbers written in hexadecimal, in the program's one way.

#include <cstddef>
#include <cstdint>
#include <string>

namespace perlwick {

enum class HexLetters { lower, upper };

// The lowest `count` hexadecimal digits of value, leading zeros and all.
template <typename Char>
std::basic_string<Char> hex_digits(std::uint64_t value, std::size_t count,
                                   HexLetters letters = HexLetters::lower) {
  const char* const digits = letters == HexLetters::lower ? "0123456789abcdef" : "0123456789ABCDEF";
  std::basic_string<Char> text(count, Char('0'));
  for (std::size_t i = count; i > 0 && value != 0; --i, value >>= 4) {
    text[i - 1] = static_cast<Char>(digits[value & 0xF]);
  }
  return text;
}

}  // namespace perlwick

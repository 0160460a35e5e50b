#pragma once

// How the record table reads product names and their keys from the bytes of its lines.
// The reader is picked once, for the ANSI code page in use when the table is built. Where
// every character is one byte, names are read through the code page's tables, byte by
// byte, and nothing takes memory; elsewhere each name is decoded first, which does.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/fnv1a.h"
#include "records/ansi_text.h"

namespace perlwick {

// The hash of a name key, taken one character at a time.
inline constexpr std::uint64_t kKeyHashStart = kFnv1aStart;

inline std::uint64_t key_hash_step(std::uint64_t hash, wchar_t c) noexcept {
  return fnv1a_step(hash, static_cast<std::uint32_t>(c));
}

inline std::uint64_t key_hash_end(std::uint64_t hash) noexcept {
  return hash ^ (hash >> 29);
}

std::uint64_t key_hash(std::wstring_view key) noexcept;

class SingleByteNames;

class NameReader {
 public:
  // Whether the reader's key functions never take memory, and so never fail.
  static constexpr bool kTakesNoMemory = false;

  virtual ~NameReader() = default;

  // The size of the name at the start of a line: up to the first "~~" that starts a
  // character.
  virtual std::size_t name_size(std::string_view line) const noexcept = 0;
  // Appends the name to out.
  virtual void name(std::string_view name, std::wstring& out) const = 0;
  // The name's key against key, by character code: negative, zero or positive.
  virtual int compare_key(std::string_view name, std::wstring_view key) const = 0;
  // key_hash() of the name's key.
  virtual std::uint64_t key_hash(std::string_view name) const = 0;
  virtual bool same_key(std::string_view a, std::string_view b) const = 0;
  // The reader itself where a character is one byte, and nothing otherwise.
  virtual const SingleByteNames* single_byte() const noexcept = 0;
};

// The reader of a code page of one byte a character: a name's size in bytes is its size in
// characters, and its key is read a byte at a time.
class SingleByteNames final : public NameReader {
 public:
  static constexpr bool kTakesNoMemory = true;

  explicit SingleByteNames(const SingleByteCodePage& code_page) : code_page_(code_page) {}

  std::size_t name_size(std::string_view line) const noexcept override {
    return std::min(line.find("~~"), line.size());
  }

  void name(std::string_view name, std::wstring& out) const override {
    const std::size_t start = out.size();
    out.resize(start + name.size());
    std::transform(name.begin(), name.end(), out.begin() + static_cast<std::ptrdiff_t>(start),
                   [this](char byte) { return code_page_.character[index(byte)]; });
  }

  int compare_key(std::string_view name, std::wstring_view key) const noexcept override {
    const std::size_t common = std::min(name.size(), key.size());
    for (std::size_t i = 0; i < common; ++i) {
      const wchar_t c = upper(name[i]);
      if (c != key[i]) return c < key[i] ? -1 : 1;
    }
    return name.size() < key.size() ? -1 : (key.size() < name.size() ? 1 : 0);
  }

  std::uint64_t key_hash(std::string_view name) const noexcept override {
    std::uint64_t hash = kKeyHashStart;
    for (const char byte : name) hash = key_hash_step(hash, upper(byte));
    return key_hash_end(hash);
  }

  bool same_key(std::string_view a, std::string_view b) const noexcept override {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [this](char p, char q) { return upper(p) == upper(q); });
  }

  // Whether a's key sorts after b's.
  bool key_after(std::string_view a, std::string_view b) const noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
      const wchar_t p = upper(a[i]);
      const wchar_t q = upper(b[i]);
      if (p != q) return p > q;
    }
    return a.size() > b.size();
  }

  const SingleByteNames* single_byte() const noexcept override { return this; }

 private:
  static std::size_t index(char byte) noexcept { return static_cast<unsigned char>(byte); }
  wchar_t upper(char byte) const noexcept { return code_page_.upper[index(byte)]; }

  const SingleByteCodePage& code_page_;
};

// The reader for the ANSI code page in use now. It lives as long as the program.
const NameReader& name_reader_for_code_page();

}  // namespace perlwick

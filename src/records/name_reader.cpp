#include "records/name_reader.h"

namespace perlwick {
namespace {

// The reader of a code page of several bytes a character: a "~~" may end a character, and
// a key is found by decoding the name and mapping it to upper case, which takes memory.
class MultiByteNames final : public NameReader {
 public:
  std::size_t name_size(std::string_view line) const noexcept override {
    for (std::size_t i = 0; i < line.size();) {
      if (line[i] == '~' && i + 1 < line.size() && line[i + 1] == '~') return i;
      i += ansi_is_lead_byte(static_cast<unsigned char>(line[i])) ? 2u : 1u;
    }
    return line.size();
  }

  void name(std::string_view name, std::wstring& out) const override { decode_ansi(name, out); }

  int compare_key(std::string_view name, std::wstring_view key) const override {
    return std::wstring_view(key_of(name)).compare(key);
  }

  std::uint64_t key_hash(std::string_view name) const override {
    return perlwick::key_hash(key_of(name));
  }

  bool same_key(std::string_view a, std::string_view b) const override {
    return key_of(a) == key_of(b);
  }

  const SingleByteNames* single_byte() const noexcept override { return nullptr; }

 private:
  static std::wstring key_of(std::string_view name) {
    std::wstring key;
    decode_ansi(name, key);
    upper_case_in_place(key);
    return key;
  }
};

}  // namespace

std::uint64_t key_hash(std::wstring_view key) noexcept {
  std::uint64_t hash = kKeyHashStart;
  for (const wchar_t c : key) hash = key_hash_step(hash, c);
  return key_hash_end(hash);
}

const NameReader& name_reader_for_code_page() {
  // The code page's tables are made once and stay where they are: one reader serves them.
  if (const SingleByteCodePage* code_page = single_byte_code_page()) {
    static const SingleByteNames single_byte(*code_page);
    return single_byte;
  }
  static const MultiByteNames multi_byte;
  return multi_byte;
}

}  // namespace perlwick

#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <string>

#include "win32/system_library.h"
#include "window/win32_date_check.h"

namespace perlwick {

bool text_is_date(std::wstring_view text) {
  std::wstring copy(text);  // VarDateFromStr wants a writable, NUL-terminated string
  DATE date = 0;
  static const auto from_text =
      win32::system_function<decltype(VarDateFromStr)>(L"oleaut32.dll", "VarDateFromStr");
  return from_text != nullptr && SUCCEEDED(from_text(copy.data(), LOCALE_USER_DEFAULT, 0, &date));
}

}  // namespace perlwick

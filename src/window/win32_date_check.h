#pragma once

#include <string_view>

namespace perlwick {

// Whether the user's regional settings read text as a date (VarDateFromStr with
// LOCALE_USER_DEFAULT). Windows only.
bool text_is_date(std::wstring_view text);

}  // namespace perlwick

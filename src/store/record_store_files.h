#pragma once

// What the record store's files share among its source files: the names of the files an
// edit writes beside the records file, and the one way a file is written.

#include <span>
#include <string_view>

#include "files/file_system.h"

namespace perlwick {

// The new content is written beside the records file under a name with the first part,
// and given the second once it is complete and on the disk; it then takes the records
// file's place in one step.
inline constexpr std::wstring_view kBeingWritten = L".tmp-";
inline constexpr std::wstring_view kWritten = L".new-";

// Writes parts to file from its start, ends the file there, flushes it to the disk and
// closes it. A failure names the step and the file.
Status fill(WritableFile& file, std::span<const std::string_view> parts);

}  // namespace perlwick

#include "files/file_system.h"

namespace perlwick {

Status FileSystem::read_all(const std::filesystem::path& path, std::string& bytes) {
  bytes.clear();
  // The table edits these bytes in place: a little room spares a copy of them later.
  if (const FileStamp entry = stamp(path); entry.exists) {
    bytes.reserve(static_cast<std::size_t>(entry.size + entry.size / 64 + 64));
  }
  return read_each(path, [&bytes](std::string_view chunk) {
    bytes.append(chunk);
    return true;
  });
}

}  // namespace perlwick

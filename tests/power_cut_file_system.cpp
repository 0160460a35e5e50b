#include "power_cut_file_system.h"

#include <algorithm>
#include <functional>

#include "test_files.h"

namespace perlwick::testing {
namespace {

constexpr int kFolderEntry = -1;
constexpr int kNoEntry = -2;
constexpr std::size_t kSector = 512;
constexpr std::size_t kReadChunk = 4096;

class NoLock final : public EditLock {};

std::filesystem::path normal(const std::filesystem::path& path) {
  return path.lexically_normal();
}

}  // namespace

std::optional<std::string> Disk::file(const std::filesystem::path& path) const {
  const auto found = files.find(normal(path));
  return found == files.end() ? std::nullopt : std::optional(found->second);
}

std::vector<std::filesystem::path> Disk::files_in(const std::filesystem::path& folder) const {
  std::vector<std::filesystem::path> names;
  for (const auto& [path, bytes] : files) {
    if (path.parent_path() == normal(folder)) names.push_back(path.filename());
  }
  return names;
}

// A file's bytes as the program sees them, and as far as they are on the disk: what was
// flushed, then every write and every length the file took since, in order.
struct PowerCutFileSystem::File {
  struct Write {
    std::size_t offset;
    std::string bytes;
  };
  std::string now;
  std::string durable;
  std::vector<Write> writes;
  std::vector<std::size_t> lengths;
  std::int64_t modified = 0;
};

// A change of a folder's entries, made in one step: each name set to a file (or a folder,
// or to nothing). A move needs its source still in place to take effect.
struct PowerCutFileSystem::Change {
  std::vector<std::pair<std::wstring, int>> entries;
  std::optional<std::pair<std::wstring, int>> needs;
};

struct PowerCutFileSystem::Folder {
  std::map<std::wstring, int> now;
  std::map<std::wstring, int> durable;
  std::vector<Change> changes;  // since the last sync
  bool refuses_new_files = false;

  void make(Change change) {
    for (const auto& [name, entry] : change.entries) {
      if (entry == kNoEntry) {
        now.erase(name);
      } else {
        now[name] = entry;
      }
    }
    changes.push_back(std::move(change));
  }
};

// A file open for writing on the simulated disk.
class SimulatedFile final : public WritableFile {
 public:
  // created: the file is new, and a flush makes its name durable too.
  SimulatedFile(PowerCutFileSystem& files, PowerCutFileSystem::File& file,
                std::filesystem::path path, bool created)
      : files_(files), file_(file), path_(std::move(path)), created_(created) {}

  const std::filesystem::path& path() const override { return path_; }

  Status write(std::string_view bytes) override {
    const bool fails = files_.step("write", path_);
    if (files_.is_cut()) return files_.injected();
    // A failing write (a full disk) writes a part first.
    put(fails ? bytes.substr(0, bytes.size() / 2) : bytes);
    return fails ? files_.injected() : Status();
  }
  Status cut() override {
    if (files_.step("end", path_)) return files_.injected();
    file_.now.resize(offset_);
    file_.lengths.push_back(offset_);
    file_.modified = files_.clock_;
    return Status();
  }
  Status flush() override {
    if (files_.step("flush", path_)) return files_.injected();
    file_.durable = file_.now;
    file_.writes.clear();
    file_.lengths.clear();
    if (created_) {
      if (files_.step("sync", path_.parent_path())) return files_.injected();
      files_.sync(*files_.folder_of(path_));
    }
    return Status();
  }
  Status close() override { return files_.step("close", path_) ? files_.injected() : Status(); }

 private:
  void put(std::string_view bytes) {
    if (bytes.empty()) return;
    const std::size_t end = offset_ + bytes.size();
    if (end > file_.now.size()) {
      file_.now.resize(end);
      file_.lengths.push_back(end);
    }
    file_.now.replace(offset_, bytes.size(), bytes);
    file_.writes.push_back({offset_, std::string(bytes)});
    file_.modified = files_.clock_;
    offset_ = end;
  }

  PowerCutFileSystem& files_;
  PowerCutFileSystem::File& file_;
  std::filesystem::path path_;
  bool created_;
  std::size_t offset_ = 0;
};

PowerCutFileSystem::PowerCutFileSystem(const Disk& disk, std::filesystem::path private_folder)
    : private_folder_(normal(private_folder)) {
  for (const std::filesystem::path& folder : disk.folders) {
    folders_[normal(folder)] = std::make_unique<Folder>();
  }
  for (const std::filesystem::path& folder : disk.folders) {
    if (Folder* parent = folder_of(folder)) {
      parent->now[normal(folder).filename().wstring()] = kFolderEntry;
    }
  }
  for (const auto& [path, bytes] : disk.files) {
    Folder* folder = folder_of(path);
    if (folder == nullptr) {
      folders_[normal(path).parent_path()] = std::make_unique<Folder>();
      folder = folder_of(path);
    }
    auto file = std::make_unique<File>();
    file->now = file->durable = bytes;
    const auto modified = disk.modified.find(path);
    file->modified = modified == disk.modified.end() ? clock_ : modified->second;
    folder->now[normal(path).filename().wstring()] = static_cast<int>(files_.size());
    files_.push_back(std::move(file));
  }
  for (auto& [path, folder] : folders_) folder->durable = folder->now;
}

PowerCutFileSystem::~PowerCutFileSystem() = default;

void PowerCutFileSystem::refuse_new_files_in(const std::filesystem::path& folder) {
  folders_.at(normal(folder))->refuses_new_files = true;
}

std::string PowerCutFileSystem::steps_taken() const {
  std::string all;
  for (std::size_t i = 0; i < taken_.size(); ++i) {
    all += std::to_string(i) + " " + taken_[i] + "\n";
  }
  return all;
}

bool PowerCutFileSystem::step(const char* what, const std::filesystem::path& path) {
  if (cut_) return true;
  taken_.push_back(std::string(what) + " " + path.filename().string());
  if (steps_ == cut_at_) {
    cut_ = true;
    throw PowerCut{};
  }
  clock_ += 1'000'000;
  return steps_++ == fail_at_;
}

Status PowerCutFileSystem::injected() const {
  if (cut_) return Status::failure(made_up_reason("the power is off"));
  switch (fail_kind_) {
    case Failure::refused:
      return Status::failure(Failure::refused, made_up_reason("Access is denied (injected)"));
    case Failure::taken:
      return Status::failure(Failure::taken, made_up_reason("The file exists (injected)"));
    case Failure::busy:
      return Status::failure(Failure::busy, {});
    case Failure::missing:
      return Status::failure(Failure::missing, made_up_reason("The file was not found (injected)"));
    default:
      return Status::failure(fail_kind_, made_up_reason("injected failure"));
  }
}

PowerCutFileSystem::Folder* PowerCutFileSystem::folder_of(const std::filesystem::path& path) {
  const auto found = folders_.find(normal(path).parent_path());
  return found == folders_.end() ? nullptr : found->second.get();
}

PowerCutFileSystem::File* PowerCutFileSystem::file_at(const std::filesystem::path& path) {
  const Folder* folder = folder_of(path);
  if (folder == nullptr) return nullptr;
  const auto entry = folder->now.find(normal(path).filename().wstring());
  if (entry == folder->now.end() || entry->second < 0) return nullptr;
  return files_[static_cast<std::size_t>(entry->second)].get();
}

void PowerCutFileSystem::sync(Folder& folder) {
  folder.durable = folder.now;
  folder.changes.clear();
}

Status PowerCutFileSystem::read_each(const std::filesystem::path& path,
                                     const std::function<bool(std::string_view)>& take) {
  if (step("read", path)) return injected();
  const File* file = file_at(path);
  if (file == nullptr)
    return Status::failure(Failure::missing, made_up_reason("The file was not found"));
  const std::string bytes = file->now;
  for (std::size_t at = 0; at < bytes.size(); at += kReadChunk) {
    if (!take(std::string_view(bytes).substr(at, kReadChunk))) break;
  }
  return Status();
}

Status PowerCutFileSystem::create(const std::filesystem::path& path, bool may_exist,
                                  std::unique_ptr<WritableFile>& opened) {
  if (step("create", path)) return injected();
  Folder* folder = folder_of(path);
  if (folder == nullptr) return Status::failure(made_up_reason("The folder does not exist"));
  if (folder->refuses_new_files)
    return Status::failure(Failure::refused, made_up_reason("Access is denied"));
  File* file = file_at(path);
  if (file != nullptr && !may_exist)
    return Status::failure(Failure::taken, made_up_reason("The file exists"));
  if (file != nullptr) {
    file->now.clear();
    file->lengths.push_back(0);
  } else {
    const int id = static_cast<int>(files_.size());
    files_.push_back(std::make_unique<File>());
    file = files_.back().get();
    folder->make({{{normal(path).filename().wstring(), id}}, std::nullopt});
  }
  file->modified = clock_;
  opened = std::make_unique<SimulatedFile>(*this, *file, path, true);
  return Status();
}

Status PowerCutFileSystem::create_new(const std::filesystem::path& path,
                                      const std::filesystem::path& /*like_file*/,
                                      std::unique_ptr<WritableFile>& file) {
  return create(path, false, file);
}

Status PowerCutFileSystem::create_or_empty(const std::filesystem::path& path,
                                           std::unique_ptr<WritableFile>& file) {
  return create(path, true, file);
}

Status PowerCutFileSystem::open_in_place(const std::filesystem::path& path,
                                         std::unique_ptr<WritableFile>& opened) {
  if (step("open", path)) return injected();
  File* file = file_at(path);
  if (file == nullptr)
    return Status::failure(Failure::missing, made_up_reason("The file was not found"));
  opened = std::make_unique<SimulatedFile>(*this, *file, path, false);
  return Status();
}

Status PowerCutFileSystem::replace(const std::filesystem::path& replacement,
                                   const std::filesystem::path& target) {
  if (step("move", target)) return injected();
  Folder* folder = folder_of(target);
  if (folder == nullptr || folder != folder_of(replacement)) {
    return Status::failure(made_up_reason("Not the same folder"));
  }
  const std::wstring from = normal(replacement).filename().wstring();
  const auto source = folder->now.find(from);
  if (source == folder->now.end() || source->second < 0) {
    return Status::failure(Failure::missing, made_up_reason("The file was not found"));
  }
  const int id = source->second;
  folder->make({{{from, kNoEntry}, {normal(target).filename().wstring(), id}}, {{from, id}}});
  // The move is on the disk once its folder is: a second step, which can be cut apart.
  if (!step("sync", target.parent_path())) sync(*folder);
  return Status();
}

Status PowerCutFileSystem::identify(const std::filesystem::path& path, FileIdentity& identity) {
  if (step("identify", path)) return injected();
  if (file_at(path) == nullptr)
    return Status::failure(Failure::missing, made_up_reason("The file was not found"));
  identity.final_path = normal(path);
  identity.links = 1;
  return Status();
}

void PowerCutFileSystem::remove(const std::filesystem::path& path) {
  // Called as the program undoes a step, where it cannot throw: the power going here is
  // seen as is_cut().
  if (cut_at_ == steps_ && !cut_) {
    cut_ = true;
    return;
  }
  if (step("remove", path)) {
    failed_to_remove_ = !cut_;
    return;
  }
  Folder* folder = folder_of(path);
  const std::wstring name = normal(path).filename().wstring();
  if (folder == nullptr || !folder->now.contains(name)) return;
  const int id = folder->now.at(name);
  folder->make({{{name, kNoEntry}}, {{name, id}}});
}

FileStamp PowerCutFileSystem::stamp(const std::filesystem::path& path) {
  FileStamp stamp;
  if (step("stamp", path)) return stamp;
  stamp.taken = clock_;
  if (const File* file = file_at(path)) {
    stamp.exists = true;
    stamp.size = file->now.size();
    stamp.modified = file->modified;
    stamp.fine_times = true;
    for (std::size_t id = 0; id < files_.size(); ++id) {
      if (files_[id].get() == file) stamp.id = id + 1;
    }
  }
  return stamp;
}

Status PowerCutFileSystem::files_starting_with(const std::filesystem::path& folder,
                                               std::wstring_view prefix,
                                               std::vector<std::filesystem::path>& found) {
  found.clear();
  if (step("list", folder)) return injected();
  const auto listed = folders_.find(normal(folder));
  if (listed == folders_.end())
    return Status::failure(Failure::missing, made_up_reason("No such folder"));
  for (const auto& [name, entry] : listed->second->now) {
    if (entry >= 0 && name.starts_with(prefix)) found.push_back(normal(folder) / name);
  }
  return Status();
}

Status PowerCutFileSystem::lock(std::wstring_view /*key*/,
                                const std::filesystem::path& /*private_folder*/,
                                std::chrono::milliseconds /*wait*/,
                                std::unique_ptr<EditLock>& lock) {
  if (step("lock")) return injected();
  lock = std::make_unique<NoLock>();
  return Status();
}

bool PowerCutFileSystem::is_read_only(const std::filesystem::path& path) {
  (void)step("read-only?", path);
  return false;
}

Status PowerCutFileSystem::make_folder(const std::filesystem::path& path) {
  if (step("make folder", path)) return injected();
  const std::filesystem::path folder = normal(path);
  if (folders_.contains(folder)) return Status();
  if (!folders_.contains(folder.parent_path()) && folder.parent_path() != folder) {
    if (Status parent = make_folder(folder.parent_path()); !parent.ok()) return parent;
  }
  Folder* parent = folder_of(folder);
  if (parent == nullptr) return Status::failure(made_up_reason("The path was not found"));
  parent->make({{{folder.filename().wstring(), kFolderEntry}}, std::nullopt});
  folders_[folder] = std::make_unique<Folder>();
  if (step("sync", folder.parent_path())) return injected();
  sync(*parent);
  return Status();
}

Disk PowerCutFileSystem::as_written() const {
  return disk(nullptr);
}

Disk PowerCutFileSystem::after_cut(std::mt19937_64& random) const {
  return disk(&random);
}

Disk PowerCutFileSystem::disk(std::mt19937_64* random) const {
  const auto chance = [random](unsigned in) { return (*random)() % in; };
  // Each folder's entries: those on the disk, and each change since its sync kept or lost.
  std::map<std::filesystem::path, std::map<std::wstring, int>> entries;
  for (const auto& [path, folder] : folders_) {
    if (random == nullptr) {
      entries[path] = folder->now;
      continue;
    }
    std::map<std::wstring, int> kept = folder->durable;
    for (const Change& change : folder->changes) {
      if (chance(2) == 0) continue;
      if (change.needs) {
        const auto source = kept.find(change.needs->first);
        if (source == kept.end() || source->second != change.needs->second) continue;
      }
      for (const auto& [name, entry] : change.entries) {
        if (entry == kNoEntry) {
          kept.erase(name);
        } else {
          kept[name] = entry;
        }
      }
    }
    entries[path] = std::move(kept);
  }
  // A folder is there when its own folder names it, or when nothing above it is known.
  std::function<bool(const std::filesystem::path&)> there = [&](const std::filesystem::path& p) {
    const auto parent = entries.find(p.parent_path());
    if (parent == entries.end() || p.parent_path() == p) return true;
    const auto entry = parent->second.find(p.filename().wstring());
    return entry != parent->second.end() && entry->second == kFolderEntry && there(p.parent_path());
  };
  // A file's bytes: what was flushed, then each write since kept, lost or kept in part,
  // sector by sector; its length, that of the disk or one it took since.
  const auto bytes_of = [&](const File& file) {
    if (random == nullptr) return file.now;
    std::string bytes = file.durable;
    for (const File::Write& write : file.writes) {
      const auto how = chance(3);  // 0 kept, 1 lost, 2 torn
      if (how == 1) continue;
      const std::size_t end = write.offset + write.bytes.size();
      if (bytes.size() < end) bytes.resize(end, '\0');
      for (std::size_t sector = write.offset / kSector * kSector; sector < end; sector += kSector) {
        if (how == 2 && chance(2) == 0) continue;
        const std::size_t from = std::max(sector, write.offset);
        const std::size_t to = std::min(sector + kSector, end);
        bytes.replace(from, to - from, write.bytes, from - write.offset, to - from);
      }
    }
    std::size_t length = file.durable.size();
    if (const auto pick = chance(static_cast<unsigned>(file.lengths.size()) + 1); pick > 0) {
      length = file.lengths[pick - 1];
    }
    bytes.resize(length, '\0');
    return bytes;
  };
  Disk disk;
  std::map<int, std::string> contents;
  for (const auto& [path, names] : entries) {
    if (!there(path)) continue;
    disk.folders.insert(path);
    for (const auto& [name, entry] : names) {
      if (entry < 0) continue;
      if (!contents.contains(entry)) {
        contents[entry] = bytes_of(*files_[static_cast<std::size_t>(entry)]);
      }
      disk.files[path / name] = contents[entry];
      disk.modified[path / name] = files_[static_cast<std::size_t>(entry)]->modified;
    }
  }
  return disk;
}

}  // namespace perlwick::testing

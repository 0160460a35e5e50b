#include "files/patient_file_system.h"

#include <algorithm>
#include <thread>

namespace perlwick {
namespace {

constexpr std::chrono::milliseconds kFirstPause{10};

// A program that scans or backs up files holds them for a moment: a file it holds is
// shared with nobody, or refused to whoever asks for it.
bool held(const Status& status) {
  return status.kind() == Failure::held || status.kind() == Failure::denied;
}

}  // namespace

void PatientFileSystem::set_patience(std::chrono::milliseconds patience, Pause pause) {
  patience_ = patience;
  pause_ = std::move(pause);
}

Status PatientFileSystem::patiently(const std::function<Status()>& step,
                                    const std::function<bool()>& did_nothing) {
  Status status = step();
  std::chrono::milliseconds waited{0};
  for (std::chrono::milliseconds pause = kFirstPause;
       held(status) && waited < patience_ && (!did_nothing || did_nothing()); pause *= 2) {
    if (waited.count() == 0 && waiting_) waiting_();
    const std::chrono::milliseconds now = std::min(pause, patience_ - waited);
    if (pause_) {
      pause_(now);
    } else {
      std::this_thread::sleep_for(now);
    }
    waited += now;
    status = step();
  }
  return status;
}

Status PatientFileSystem::read_each(const std::filesystem::path& path,
                                    const std::function<bool(std::string_view)>& take) {
  // Tried again only while nothing has been read: no part is handed over twice.
  bool took = false;
  return patiently(
      [&] {
        return files_.read_each(path, [&](std::string_view chunk) {
          took = true;
          return take(chunk);
        });
      },
      [&] { return !took; });
}

Status PatientFileSystem::create_new(const std::filesystem::path& path,
                                     const std::filesystem::path& like_file,
                                     std::unique_ptr<WritableFile>& file) {
  return patiently([&] { return files_.create_new(path, like_file, file); });
}

Status PatientFileSystem::create_or_empty(const std::filesystem::path& path,
                                          std::unique_ptr<WritableFile>& file) {
  return patiently([&] { return files_.create_or_empty(path, file); });
}

Status PatientFileSystem::open_in_place(const std::filesystem::path& path,
                                        std::unique_ptr<WritableFile>& file) {
  return patiently([&] { return files_.open_in_place(path, file); });
}

Status PatientFileSystem::replace(const std::filesystem::path& replacement,
                                  const std::filesystem::path& target) {
  return patiently([&] { return files_.replace(replacement, target); });
}

}  // namespace perlwick

#include "settings/settings_store.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

namespace fs = boost::filesystem;
using platform::ErrorNumber;

namespace {

// How long a save may wait, all told, for a file that something holds for a
// moment: a scanner or an indexer often opens a file the moment it has been
// written, and while it looks, the file cannot be replaced. Such a look lasts
// moments, so a refused rename is tried again every step until the deadline.
// The launcher keeps the simulator suspended meanwhile, so the deadline runs
// on the clock, not on a count of tries, whose length depends on the
// system's timer.
constexpr std::uint64_t kSaveDeadlineMilliseconds = 2000;
constexpr unsigned kRetryStepMilliseconds = 10;

// Names tried for a new file beside the same file by one process.
constexpr unsigned kTemporaryNamesPerProcess = 100;

// What a rewrite keeps of the old file: its owner's marks, not the read-only
// one (such a file is never written) nor what tells its kind.
constexpr std::uint32_t kKeptAttributes = platform::kAttributeHidden | platform::kAttributeSystem |
                                          platform::kAttributeArchive |
                                          platform::kAttributeNotContentIndexed;

bool IsMissing(ErrorNumber error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

fs::path WithSuffix(const fs::path& file, const char* suffix) {
  fs::path result = file;
  result += suffix;
  return result;
}

[[noreturn]] void ThrowFor(const char* what, const fs::path& file, ErrorNumber error) {
  throw fs::filesystem_error(
      what, file,
      boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

// The attributes of what stands at the path; 0 when nothing does or they
// cannot be read.
std::uint32_t AttributesOf(const fs::path& file) {
  std::uint32_t attributes = 0;
  return platform::GetAttributes(file, &attributes) == 0 ? attributes : 0;
}

// The temporary files beside `file` are named "<file>.<process id>-<n>.tmp":
// unique among the processes running, and told apart from everything else
// in the folder by IsTemporaryNameOf.
fs::path TemporaryName(const fs::path& file, std::uint32_t process, unsigned attempt) {
  return WithSuffix(
      file, ("." + std::to_string(process) + "-" + std::to_string(attempt) + ".tmp").c_str());
}

bool IsTemporaryNameOf(const fs::path::string_type& name, const fs::path::string_type& file) {
  using String = fs::path::string_type;
  const String tail = {'.', 't', 'm', 'p'};
  const std::size_t start = file.size() + 1;
  if (name.size() <= start + tail.size() || name.compare(0, file.size(), file) != 0 ||
      name[file.size()] != '.' || name.compare(name.size() - tail.size(), tail.size(), tail) != 0) {
    return false;
  }
  const String numbers = name.substr(start, name.size() - tail.size() - start);
  const auto isNumber = [](const String& part) {
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](auto c) { return c >= '0' && c <= '9'; });
  };
  const std::size_t dash = numbers.find('-');
  return dash != String::npos && isNumber(numbers.substr(0, dash)) &&
         isNumber(numbers.substr(dash + 1));
}

// Deletes what saves cut short left beside `file`: names of exactly the
// temporary naming that lead nowhere else (a link would lead elsewhere, and
// some systems show a link to a file as a plain one). Only under the session
// lock, while no other launcher is saving.
void RemoveLeftoversOf(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::vector<fs::path> names;
  fs::path realFolder;
  if (platform::ListFolder(folder, &names) != 0 ||
      platform::RealLocation(folder, &realFolder) != 0) {
    return;
  }
  for (const fs::path& name : names) {
    fs::path real;
    if (IsTemporaryNameOf(name.native(), file.filename().native()) &&
        platform::RealLocation(folder / name, &real) == 0 && real == realFolder / name) {
      platform::RemoveFile(folder / name);
    }
  }
}

bool IsTaken(ErrorNumber error) {
  return error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists;
}

// A new file beside the one it is to replace, open from its creation to its
// rename, so that no scanner gets hold of it in between. Unless it took that
// file's place, it is deleted when it goes; a launcher ended before then
// leaves it to the next one's RemoveLeftoversOf.
struct NewFile {
  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() {
    Close();
    if (!path.empty() && !placed) platform::RemoveFile(path);
  }
  void Close() {
    if (opened != nullptr) platform::CloseFile(opened);
    opened = nullptr;
  }

  fs::path path;
  platform::OpenFile opened = nullptr;
  bool placed = false;
};

// The bytes in a new file beside `file`, with the marks, on the disk.
ErrorNumber WriteNewFile(const fs::path& file, std::string_view bytes, std::uint32_t marks,
                         NewFile* created) {
  ErrorNumber error = platform::kErrorFileExists;
  for (unsigned attempt = 0; IsTaken(error) && attempt < kTemporaryNamesPerProcess; ++attempt) {
    const fs::path name = TemporaryName(file, platform::ProcessId(), attempt);
    error = platform::CreateNewFile(name, &created->opened);
    if (error == 0) created->path = name;
  }
  if (error == 0) error = platform::WriteToFile(created->opened, bytes);
  if (error == 0 && marks != 0) error = platform::SetOpenFileAttributes(created->opened, marks);
  if (error == 0) error = platform::FlushToDisk(created->opened);
  return error;
}

// True when the rename failed only because something has a file open for
// the moment: a sharing violation, or access denied while another program has
// one of them open (a reader that allows deleting still keeps a file from
// being replaced; access denied also means no permission, which waiting does
// not mend).
bool IsMomentaryHold(ErrorNumber error, std::initializer_list<fs::path> files) {
  if (error == platform::kErrorSharingViolation) return true;
  return error == platform::kErrorAccessDenied &&
         std::any_of(files.begin(), files.end(), [](const fs::path& file) {
           return platform::CheckNotOpenElsewhere(file) == platform::kErrorSharingViolation;
         });
}

// Runs `rename` until it succeeds, fails for another reason than a momentary
// hold on `files`, or the deadline has passed.
template <typename Rename>
ErrorNumber RenameBefore(std::uint64_t deadline, std::initializer_list<fs::path> files,
                         const Rename& rename) {
  for (;;) {
    const ErrorNumber error = rename();
    if (error == 0 || platform::Milliseconds() >= deadline || !IsMomentaryHold(error, files)) {
      return error;
    }
    platform::Sleep(kRetryStepMilliseconds);
  }
}

// Puts the new file in the place of `target`, trying a refusal again until
// the deadline. Where the file system cannot rename an open file, it is
// closed and renamed by name.
ErrorNumber PutInPlace(NewFile& created, const fs::path& target, std::uint64_t deadline) {
  ErrorNumber error = RenameBefore(
      deadline, {target}, [&] { return platform::RenameOpenFileOver(created.opened, target); });
  if (error == platform::kErrorNotSupported) {
    created.Close();
    error = RenameBefore(deadline, {created.path, target},
                         [&] { return platform::RenameFileOver(created.path, target); });
  }
  created.placed = error == 0;
  return error;
}

// The backup takes the bytes by the same road as the file, tried once: a
// backup held by another program is left as it was rather than waited for,
// and so is a read-only one. Failures do not concern the caller.
void ReplaceBackup(const fs::path& backup, std::string_view bytes) {
  if ((AttributesOf(backup) & platform::kAttributeReadOnly) != 0) return;
  NewFile created;
  if (WriteNewFile(backup, bytes, 0, &created) == 0) PutInPlace(created, backup, 0);
}

// What a writer cut short by a power cut leaves: the file's new length went
// to the disk before its content, which reads as zeroes, or nothing at all.
// A launch never writes such a file: it writes at least one section, and a
// zero byte only where it read one.
bool IsDamaged(std::string_view bytes) {
  return bytes.empty() || bytes.find('\0') != std::string_view::npos;
}

// Takes the lock, waiting for another launcher's for at most
// kLockWaitMilliseconds, also where the lock answers that it may not be
// waited for (it belongs to an elevated launcher): then it is tried again
// until that one lets it go.
ErrorNumber AcquireLock(const std::string& name, platform::SessionLock* held) {
  const std::uint64_t deadline = platform::Milliseconds() + SettingsStore::kLockWaitMilliseconds;
  for (;;) {
    const std::uint64_t now = platform::Milliseconds();
    const auto left = static_cast<unsigned>(now < deadline ? deadline - now : 0);
    const ErrorNumber error = platform::AcquireSessionLock(name, left, held);
    if (error != platform::kErrorAccessDenied || now >= deadline) return error;
    platform::Sleep(kRetryStepMilliseconds);
  }
}

}  // namespace

SettingsStore::SettingsStore(const std::string& name) {
  fs::path appData;
  const ErrorNumber unknown = platform::RoamingAppDataFolder(&appData);
  if (unknown != 0) ThrowFor("The roaming application-data folder is unknown", appData, unknown);
  const fs::path folder = appData / kProductFolder;
  const ErrorNumber uncreated = platform::CreateFolders(folder);
  if (uncreated != 0) ThrowFor("The settings folder cannot be created", folder, uncreated);
  path = folder / ("settings_pro_" + std::string(kProductTitle) + "_" + name + ".ini");
  backupPath = WithSuffix(path, ".bak");

  lockError = AcquireLock(std::string(kProductTitle) + " settings store " + name, &sessionLock);
  std::string file;
  readError = platform::ReadWholeFile(path, &file);
  if (readError == 0) Load(std::move(file));
}

SettingsStore::~SettingsStore() {
  if (sessionLock != nullptr) platform::ReleaseSessionLock(sessionLock);
}

void SettingsStore::SetValue(const std::string& section, const std::string& key,
                             const std::string& value) {
  const std::lock_guard<std::mutex> held(lock);
  sections[section].Set(key, value);
  WriteFile();
}

void SettingsStore::DeleteFiles() {
  if (sessionLock == nullptr) ThrowFor("Another launcher holds the settings", path, lockError);
  for (const fs::path& file : {path, backupPath}) {
    const ErrorNumber error = platform::RemoveFile(file);
    if (error != 0 && !IsMissing(error)) {
      ThrowFor("The settings file cannot be deleted", file, error);
    }
  }
}

void SettingsStore::Load(std::string file) {
  std::string backup;
  const bool restoring =
      IsDamaged(file) && platform::ReadWholeFile(backupPath, &backup) == 0 && !IsDamaged(backup);
  // What the damaged file still holds is laid over the backup's settings.
  if (restoring) ParseSections(backup, sections);
  ParseSections(file, sections);
  if (!restoring) nextBackup = std::move(file);
}

void SettingsStore::WriteFile() {
  if (sessionLock == nullptr) ThrowFor("The settings file cannot be written", path, lockError);
  if (readError != 0 && !IsMissing(readError)) {
    ThrowFor("The settings file cannot be written", path, readError);
  }
  fs::path target;
  if (platform::RealLocation(path, &target) != 0) target = path;
  const std::uint32_t attributes = AttributesOf(target);
  if (attributes & platform::kAttributeReadOnly) {
    ThrowFor("The settings file cannot be written", path, platform::kErrorFileReadOnly);
  }
  if (!leftoversRemoved) {
    RemoveLeftoversOf(target);
    RemoveLeftoversOf(backupPath);
    leftoversRemoved = true;
  }
  std::string text = FormatSections(sections);
  const ErrorNumber error = Save(target, text, attributes & kKeptAttributes);
  if (error != 0) ThrowFor("The settings file could not be written", path, error);
  // From now on the file holds this store's content, which the next write
  // backs up.
  readError = 0;
  nextBackup = std::move(text);
}

ErrorNumber SettingsStore::Save(const fs::path& target, std::string_view text,
                                std::uint32_t keptAttributes) {
  const std::uint64_t deadline = platform::Milliseconds() + kSaveDeadlineMilliseconds;
  NewFile created;
  ErrorNumber error = WriteNewFile(target, text, keptAttributes, &created);
  if (error != 0) return error;
  // The backup is replaced only once the new content is safely on the disk.
  if (nextBackup) ReplaceBackup(backupPath, *nextBackup);
  return PutInPlace(created, target, deadline);
}

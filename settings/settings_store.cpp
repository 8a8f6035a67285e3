#include "settings/settings_store.h"

#include <algorithm>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

namespace fs = boost::filesystem;
using platform::ErrorNumber;

namespace {

// A scanner or indexer often opens a file the moment it has been written,
// and while it looks, the file cannot be renamed. Such a look lasts moments,
// so the rename is tried again for up to two seconds before the save takes a
// weaker road.
constexpr unsigned kRenameRetryMilliseconds = 10;
constexpr unsigned kRenameRetries = 200;

// What a rewrite keeps of the old file: its owner's marks, not the read-only
// one (such a file is never written) nor what tells its kind.
constexpr std::uint32_t kKeptAttributes = platform::kAttributeHidden | platform::kAttributeSystem |
                                          platform::kAttributeArchive |
                                          platform::kAttributeNotContentIndexed;

bool IsMissing(ErrorNumber error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

bool IsHeld(ErrorNumber error) {
  return error == platform::kErrorSharingViolation || error == platform::kErrorAccessDenied;
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

// True for a name CreateFileBeside gives beside `file`: "<file>.<n>-<n>.tmp".
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

// Deletes the temporary files that a save killed part way left beside
// `file`: plain files of exactly that naming only, never a folder or a link.
// A link is told by where it leads too, as some systems show a link to a
// file as a plain file (and deleting it there deletes what it names). Only
// under the session lock, while no other launcher is saving.
void RemoveLeftoversOf(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder, &entries) != 0) return;
  fs::path realFolder;
  if (platform::RealLocation(folder, &realFolder) != 0) return;
  const std::uint32_t notPlain = platform::kAttributeDirectory | platform::kAttributeLink;
  for (const platform::FolderEntry& entry : entries) {
    if ((entry.attributes & notPlain) != 0 ||
        !IsTemporaryNameOf(entry.name.native(), file.filename().native())) {
      continue;
    }
    fs::path real;
    if (platform::RealLocation(folder / entry.name, &real) == 0 &&
        real == realFolder / entry.name) {
      platform::RemoveFile(folder / entry.name);
    }
  }
}

// The bytes, whole and on the disk, in a new file beside `file`; `created`
// names it, or is empty when none was made.
ErrorNumber WriteFileBeside(const fs::path& file, std::string_view bytes, fs::path* created) {
  platform::OpenFile opened = nullptr;
  ErrorNumber error = platform::CreateFileBeside(file, created, &opened);
  if (error != 0) return error;
  error = platform::WriteToFile(opened, bytes);
  if (error == 0) error = platform::FlushToDisk(opened);
  platform::CloseFile(opened);
  return error;
}

ErrorNumber RenameOverPatiently(const fs::path& from, const fs::path& to) {
  for (unsigned retry = 0;; ++retry) {
    const ErrorNumber error = platform::RenameOver(from, to);
    if (error == 0 || !IsHeld(error) || retry == kRenameRetries) return error;
    platform::Sleep(kRenameRetryMilliseconds);
  }
}

// Whatever failed, no new file stays behind.
void RemoveUnlessSaved(const fs::path& created, ErrorNumber error) {
  if (error != 0 && !created.empty()) platform::RemoveFile(created);
}

// The backup takes the bytes by the same road as the file: complete and on
// the disk under a new name before one rename replaces the old backup, so a
// failure leaves the old backup as it was. A folder or a read-only file at
// the backup's name is left alone. Failures do not concern the caller.
void ReplaceBackup(const fs::path& backup, std::string_view bytes) {
  const std::uint32_t untouchable = platform::kAttributeDirectory | platform::kAttributeReadOnly;
  if ((AttributesOf(backup) & untouchable) != 0) return;
  fs::path created;
  ErrorNumber error = WriteFileBeside(backup, bytes, &created);
  if (error == 0) error = RenameOverPatiently(created, backup);
  RemoveUnlessSaved(created, error);
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

  lockError = platform::AcquireSessionLock(std::string(kProductTitle) + " settings store " + name,
                                           kLockWaitMilliseconds, &sessionLock);
  readError = platform::ReadWholeFile(path, &fileBytes);
  if (readError == 0) ParseSections(fileBytes, sections);
}

SettingsStore::~SettingsStore() {
  if (sessionLock != nullptr) platform::ReleaseSessionLock(sessionLock);
}

void SettingsStore::SetValue(const std::string& section, const std::string& key,
                             const std::string& value) {
  const std::lock_guard<std::mutex> held(lock);
  sections[section][key] = value;
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

void SettingsStore::WriteFile() {
  if (sessionLock == nullptr) ThrowFor("The settings file cannot be written", path, lockError);
  if (readError != 0 && !IsMissing(readError)) {
    ThrowFor("The settings file cannot be written", path, readError);
  }
  fs::path target;
  if (platform::RealLocation(path, &target) != 0) target = path;
  // A rename may replace a read-only file, and root may write one regardless;
  // the user's mark keeps it as it is everywhere.
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
  fileBytes = std::move(text);
}

ErrorNumber SettingsStore::Save(const fs::path& target, std::string_view text,
                                std::uint32_t keptAttributes) {
  // Only a file that was read whole is backed up, so a backup is never
  // replaced by anything but a complete earlier version.
  const bool hadFile = readError == 0;
  // Held open without delete sharing (by the simulator, an editor): no rename
  // can succeed, so the file is rewritten where it stands, under the lock.
  if (hadFile && platform::CheckNotHeldOpen(target) == platform::kErrorSharingViolation) {
    ReplaceBackup(backupPath, fileBytes);
    return platform::RewriteInPlace(target, text);
  }
  fs::path created;
  ErrorNumber error = WriteFileBeside(target, text, &created);
  if (error == 0 && keptAttributes != 0) {
    error = platform::SetAttributes(created, keptAttributes);
  }
  // The backup is replaced only once the new content is safely on the disk.
  if (error == 0 && hadFile) ReplaceBackup(backupPath, fileBytes);
  bool renameRefused = false;
  if (error == 0) {
    error = RenameOverPatiently(created, target);
    renameRefused = IsHeld(error);
  }
  RemoveUnlessSaved(created, error);
  if (hadFile && renameRefused) return platform::RewriteInPlace(target, text);
  return error;
}

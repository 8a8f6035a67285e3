#include "settings/settings_store.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

namespace fs = boost::filesystem;
using platform::ErrorNumber;

namespace {

// How long a save may wait, all told, for a file that something holds for a
// moment: a scanner or an indexer often opens a file the moment it has been
// written, and while it looks, the file cannot be replaced. Such a look lasts
// moments, so a refused rename is tried again every step until the deadline
// before the save takes a weaker road. The launcher keeps the simulator
// suspended meanwhile, so the deadline runs on the clock, not on a count of
// tries, whose length depends on the system's timer.
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

// Deletes the temporary files that a save cut short left beside `file`:
// plain files of exactly that naming only, never a folder or a link. A link
// is told by where it leads too, as some systems show a link to a file as a
// plain file (and deleting it there deletes what it names). Only under the
// session lock, while no other launcher is saving. True when there was one:
// a save was cut short, by a power cut, or during a rewrite in place.
bool RemoveLeftoversOf(const fs::path& file) {
  const fs::path folder = file.parent_path();
  std::vector<platform::FolderEntry> entries;
  if (platform::ListFolder(folder, &entries) != 0) return false;
  fs::path realFolder;
  if (platform::RealLocation(folder, &realFolder) != 0) return false;
  bool found = false;
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
      found = true;
    }
  }
  return found;
}

bool IsTaken(ErrorNumber error) {
  return error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists;
}

// A new file beside the one it is to replace, open from its creation to its
// rename, so that no scanner gets hold of it in between, and deleted by the
// system should the launcher end before the rename.
struct NewFile {
  fs::path path;
  platform::OpenFile opened = nullptr;
};

// The bytes in a new file beside `file`, with the marks, on the disk.
ErrorNumber WriteNewFile(const fs::path& file, std::string_view bytes, std::uint32_t marks,
                         NewFile* created) {
  ErrorNumber error = platform::kErrorFileExists;
  for (unsigned attempt = 0; IsTaken(error) && attempt < kTemporaryNamesPerProcess; ++attempt) {
    created->path = TemporaryName(file, platform::ProcessId(), attempt);
    error = platform::CreateNewFile(created->path, &created->opened);
  }
  if (error != 0) return error;
  error = platform::WriteToFile(created->opened, bytes);
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

// Renames the new file over `target`, trying a refusal again until the
// deadline. Where the file system cannot rename an open file, the file is
// kept, closed (`created.opened` then null) and renamed by name.
ErrorNumber RenameOver(NewFile& created, const fs::path& target, std::uint64_t deadline) {
  ErrorNumber error = RenameBefore(
      deadline, {target}, [&] { return platform::RenameOpenFileOver(created.opened, target); });
  if (error != platform::kErrorNotSupported) return error;
  error = platform::KeepWhenClosed(created.opened);
  platform::CloseFile(created.opened);
  created.opened = nullptr;
  if (error != 0) return error;
  error = RenameBefore(deadline, {created.path, target},
                       [&] { return platform::RenameOver(created.path, target); });
  if (error != 0) platform::RemoveFile(created.path);
  return error;
}

// Closes the new file, which the system then deletes unless it was renamed.
void Close(NewFile& created) {
  if (created.opened != nullptr) platform::CloseFile(created.opened);
  created.opened = nullptr;
}

// Rewrites the file where it stands. The new file stays beside it, complete,
// until the rewrite is done, so that the next launch knows a rewrite cut
// short by its leftover (see RemoveLeftoversOf).
ErrorNumber RewriteInPlaceBeside(NewFile& created, const fs::path& target, std::string_view text) {
  if (created.opened != nullptr) platform::KeepWhenClosed(created.opened);
  Close(created);
  const ErrorNumber error = platform::RewriteInPlace(target, text);
  platform::RemoveFile(created.path);
  return error;
}

// The backup takes the bytes by the same road as the file: complete and on
// the disk under a new name before one rename replaces the old backup, so a
// failure leaves the old backup as it was. It is tried once: a backup held
// by another program is left as it was rather than waited for. A folder or a
// read-only file at the backup's name is left alone. Failures do not concern
// the caller.
void ReplaceBackup(const fs::path& backup, std::string_view bytes) {
  const std::uint32_t untouchable = platform::kAttributeDirectory | platform::kAttributeReadOnly;
  if ((AttributesOf(backup) & untouchable) != 0) return;
  NewFile created;
  if (WriteNewFile(backup, bytes, 0, &created) == 0) RenameOver(created, backup, 0);
  Close(created);
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

void SettingsStore::WriteFile() {
  if (sessionLock == nullptr) ThrowFor("The settings file cannot be written", path, lockError);
  if (readError != 0 && !IsMissing(readError)) {
    ThrowFor("The settings file cannot be written", path, readError);
  }
  fs::path target;
  if (platform::RealLocation(path, &target) != 0) target = path;
  // Root may write a read-only file regardless; the user's mark keeps it as
  // it is everywhere.
  const std::uint32_t attributes = AttributesOf(target);
  if (attributes & platform::kAttributeReadOnly) {
    ThrowFor("The settings file cannot be written", path, platform::kErrorFileReadOnly);
  }
  // Only a file that was read whole is backed up, so a backup is never
  // replaced by anything but a complete earlier version. A save cut short
  // may have left the file torn, so then the backup stays as it was.
  bool backUp = readError == 0;
  if (!leftoversRemoved) {
    backUp &= !RemoveLeftoversOf(target);
    RemoveLeftoversOf(backupPath);
    leftoversRemoved = true;
  }
  std::string text = FormatSections(sections);
  const ErrorNumber error = Save(target, text, attributes & kKeptAttributes, backUp);
  if (error != 0) ThrowFor("The settings file could not be written", path, error);
  // From now on the file holds this store's content, which the next write
  // backs up.
  readError = 0;
  fileBytes = std::move(text);
}

ErrorNumber SettingsStore::Save(const fs::path& target, std::string_view text,
                                std::uint32_t keptAttributes, bool backUp) {
  const std::uint64_t deadline = platform::Milliseconds() + kSaveDeadlineMilliseconds;
  const bool hadFile = readError == 0;
  NewFile created;
  ErrorNumber error = WriteNewFile(target, text, keptAttributes, &created);
  if (error != 0) {
    Close(created);
    return error;
  }
  // The backup is replaced only once the new content is safely on the disk.
  if (backUp) ReplaceBackup(backupPath, fileBytes);
  // Held open without delete sharing (by the simulator, an editor), the file
  // cannot be replaced, and one held for longer than the deadline is taken
  // as such: it is rewritten where it stands, under the lock.
  if (hadFile && platform::CheckNotHeldOpen(target) == platform::kErrorSharingViolation) {
    return RewriteInPlaceBeside(created, target, text);
  }
  error = RenameOver(created, target, deadline);
  if (hadFile && IsHeld(error)) return RewriteInPlaceBeside(created, target, text);
  Close(created);
  return error;
}

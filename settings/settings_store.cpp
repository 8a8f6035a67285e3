#include "settings/settings_store.h"

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

namespace fs = boost::filesystem;

namespace {

// True for an existing file without write permission (on Windows, one marked
// read-only).
bool IsReadOnly(const fs::path& file) {
  boost::system::error_code unknown;
  const fs::file_status status = fs::status(file, unknown);
  return !unknown && fs::exists(status) && (status.permissions() & fs::owner_write) == 0;
}

bool IsMissing(platform::ErrorNumber readError) {
  return readError == platform::kErrorFileNotFound || readError == platform::kErrorPathNotFound;
}

fs::path WithSuffix(const fs::path& file, const char* suffix) {
  fs::path result = file;
  result += suffix;
  return result;
}

[[noreturn]] void ThrowFor(const char* what, const fs::path& file, platform::ErrorNumber error) {
  throw fs::filesystem_error(
      what, file,
      boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

}  // namespace

SettingsStore::SettingsStore(const std::string& name) {
  const fs::path folder = platform::RoamingAppDataFolder() / kProductFolder;
  fs::create_directories(folder);
  path = folder / ("settings_pro_" + std::string(kProductTitle) + "_" + name + ".ini");
  backupPath = WithSuffix(path, ".bak");

  lockError = platform::AcquireSessionLock(std::string(kProductTitle) + " settings store " + name,
                                           kLockWaitMilliseconds, &sessionLock);
  std::string text;
  readError = platform::ReadWholeFile(path, &text);
  if (readError == 0) ParseSections(text, sections);
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
  fs::remove(path);
  fs::remove(backupPath);
}

platform::ErrorNumber SettingsStore::WhyNotWritable() const {
  if (sessionLock == nullptr) return lockError;
  if (readError != 0 && !IsMissing(readError)) return readError;
  // A rename may replace a read-only file, and root may write one regardless;
  // the user's mark keeps it as it is everywhere.
  if (IsReadOnly(path)) return platform::kErrorFileReadOnly;
  return 0;
}

void SettingsStore::WriteFile() {
  const platform::ErrorNumber unwritable = WhyNotWritable();
  if (unwritable != 0) ThrowFor("The settings file cannot be written", path, unwritable);
  const std::string text = FormatSections(sections);
  // The backup is rotated only once the new content is safely on disk, and
  // only from a file that was there; a failed copy leaves the old backup as it
  // was and never stops the write itself.
  const fs::path backup = readError == 0 ? backupPath : fs::path();
  platform::SaveResult saved = platform::SaveByReplacing(path, text, backup);
  if (saved.heldOpen) saved.error = platform::RewriteInPlace(path, text);
  if (saved.error != 0) ThrowFor("The settings file could not be written", path, saved.error);
  // From now on the file holds this store's content, which the next write
  // backs up.
  readError = 0;
}

#include "settings/settings_store.h"

#include <fstream>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "platform/platform.h"

namespace fs = boost::filesystem;

namespace {

// True for an existing file without write permission (on Windows, one marked
// read-only).
bool IsReadOnly(const fs::path& file) {
  boost::system::error_code unknown;
  const fs::file_status status = fs::status(file, unknown);
  return !unknown && fs::exists(status) && (status.permissions() & fs::owner_write) == 0;
}

fs::path WithSuffix(const fs::path& file, const char* suffix) {
  fs::path result = file;
  result += suffix;
  return result;
}

}  // namespace

SettingsStore::SettingsStore(const std::string& name) {
  const fs::path folder = platform::RoamingAppDataFolder() / kProductFolder;
  fs::create_directories(folder);
  path = folder / ("settings_pro_" + std::string(kProductTitle) + "_" + name + ".ini");
  backupPath = WithSuffix(path, ".bak");

  // Boost's own file streams open through the narrow path with MinGW's
  // runtime, which mangles names outside the ANSI code page; the standard
  // streams take the native (wide, on Windows) path directly.
  std::ifstream in(path.c_str(), std::ios::binary);
  LoadFrom(in, sections);
}

void SettingsStore::SetValue(const std::string& section, const std::string& key,
                             const std::string& value) {
  const std::lock_guard<std::mutex> held(lock);
  sections[section][key] = value;
  WriteFile();
}

void SettingsStore::DeleteFiles() {
  fs::remove(path);
  fs::remove(backupPath);
}

void SettingsStore::RotateBackup() {
  try {
    fs::remove(backupPath);
    fs::copy(path, backupPath);
  } catch (const std::exception&) {
    // A missing file (the first write) or a locked backup must never stop
    // the write itself.
  }
}

void SettingsStore::WriteFile() {
  RotateBackup();
  // Windows refuses to open a read-only file for writing, but a rename may
  // replace it, and elsewhere root may write it regardless; the user's mark
  // keeps it as it is everywhere.
  if (IsReadOnly(path)) return;
  if (!ReplaceFileWithTemporary()) RewriteFileInPlace();
}

// Returns false when the caller should fall back to the in-place rewrite:
// the temporary file could not be created or could not replace the file. A
// temporary write cut short leaves the file alone and returns true.
bool SettingsStore::ReplaceFileWithTemporary() {
  const fs::path temporary = WithSuffix(path, ".tmp");
  boost::system::error_code ignored;
  {
    std::ofstream out(temporary.c_str(), std::ios::binary | std::ios::trunc);
    if (!out) return false;
    const std::string text = FormatSections(sections);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, ignored);
      return true;
    }
  }
  boost::system::error_code refused;
  fs::rename(temporary, path, refused);
  if (!refused) return true;
  fs::remove(temporary, ignored);
  return false;
}

void SettingsStore::RewriteFileInPlace() {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  if (out) WriteSections(out, sections);
}

// SettingsStore: the product's per-user, INI-backed, write-through settings.
//
// A store is named ("settings", "window_positions"); the name picks the file
//   <roaming application data>\Cirrovane\settings_pro_Cirrovane XR_<name>.ini
// and the backup beside it, the same path with ".bak" appended.
//
// What it guarantees:
// - Construction creates the folder when missing and loads the file into
//   memory. A missing or unreadable file gives an empty store; a folder that
//   cannot be created throws boost::filesystem::filesystem_error.
// - SetValue rewrites the whole file at once, even when nothing changed. It
//   first copies the current file over the backup; failures of that copy are
//   ignored and the write goes on.
// - The new content goes to "<file>.tmp" and replaces the file only once
//   fully written, so a write cut short (full disk, crash) leaves the previous
//   file whole. After a system crash either version may survive. Where the
//   file cannot be replaced (another program holds it open without delete
//   sharing) it is rewritten in place instead, without that protection.
// - A file marked read-only is never written.
// - A file that cannot be written is not reported; the value stays set in
//   memory and the next SetValue tries again.
// - Destruction writes nothing. Changes made by other processes after
//   construction are overwritten by the next SetValue.
// - SetValue calls on one store may come from several threads. Construction
//   and DeleteFiles must not run alongside them.
#pragma once

#include <mutex>
#include <string>

#include <boost/filesystem/path.hpp>

#include "settings/settings_format.h"

inline constexpr char kProductTitle[] = "Cirrovane XR";
inline constexpr char kProductFolder[] = "Cirrovane";

class SettingsStore {
 public:
  explicit SettingsStore(const std::string& name);
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Sets the key in the section, creating either when missing, and rewrites
  // the file.
  void SetValue(const std::string& section, const std::string& key, const std::string& value);

  // Deletes the file, then its backup; a missing one is fine. A file that
  // exists but cannot be deleted throws boost::filesystem::filesystem_error,
  // and then the backup is left alone. The values in memory stay.
  void DeleteFiles();

 private:
  void RotateBackup();
  void WriteFile();
  bool ReplaceFileWithTemporary();
  void RewriteFileInPlace();

  SectionMap sections;
  boost::filesystem::path path;
  boost::filesystem::path backupPath;
  std::mutex lock;
};

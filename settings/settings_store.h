// SettingsStore: the product's per-user, INI-backed, write-through settings.
//
// A store is named ("settings", "window_positions"); the name picks the file
//   <roaming application data>\Cirrovane\settings_pro_Cirrovane XR_<name>.ini
// and the backup beside it, the same path with ".bak" appended.
//
// What it guarantees:
// - Stores of the same name are serialised across the user's processes: a
//   store takes a session-wide lock of its name before it loads the file and
//   holds it until it is destroyed, so launches started together never mix
//   their reads and writes. The wait is bounded; a store that could not take
//   the lock in time loads the file but never writes it or its backup.
// - Construction creates the folder when missing and loads the file into
//   memory. A missing file gives an empty store; a folder that cannot be
//   created throws boost::filesystem::filesystem_error.
// - A file that exists but could not be read whole (held open without read
//   sharing, a read error, a folder in its place) is never replaced: nothing
//   of it or of its backup changes. Neither does a file marked read-only.
// - SetValue stores the value in memory and rewrites the whole file at once,
//   even when nothing changed. When the value could not be written (no lock,
//   the file unreadable, read-only or held, a full disk) it throws
//   boost::filesystem::filesystem_error naming the file and the reason; the
//   value stays set in memory and the next SetValue tries again.
// - Before a rewrite of an existing file, that file is copied to the backup.
//   The copy is made under a new name and replaces the old backup only once
//   complete, so a failed copy leaves the old backup as it was; it never
//   carries the read-only mark. Failures of the copy do not stop the write.
//   Without a file there is no copy, and an existing backup is left alone.
// - The new content goes to a newly created, uniquely named file beside the
//   file's real location (a link at the path is followed, so the link stays),
//   is flushed to disk, and then replaces the file, which keeps its
//   permissions and attributes. A write cut short leaves the previous file
//   whole and no temporary file behind, and after a system crash the file
//   holds either its previous or its new content, whole.
// - Where another program holds the file open in a way that forbids replacing
//   it, the file is rewritten in place instead (under the lock, so no other
//   launcher reads it meanwhile). Only that rewrite, cut short by a crash or
//   a full disk, can leave the file partly written; the backup then holds the
//   previous version.
// - Destruction writes nothing. Changes made by other programs after
//   construction are overwritten by the next SetValue.
// - SetValue calls on one store may come from several threads. Construction,
//   DeleteFiles and destruction must stay on one thread and not run
//   alongside them.
#pragma once

#include <mutex>
#include <string>

#include <boost/filesystem/path.hpp>

#include "platform/platform.h"
#include "settings/settings_format.h"

inline constexpr char kProductTitle[] = "Cirrovane XR";
inline constexpr char kProductFolder[] = "Cirrovane";

class SettingsStore {
 public:
  // How long a store waits for another process's store of the same name.
  static constexpr unsigned kLockWaitMilliseconds = 5000;

  explicit SettingsStore(const std::string& name);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Sets the key in the section, creating either when missing, and rewrites
  // the file. Throws boost::filesystem::filesystem_error when the file could
  // not be written.
  void SetValue(const std::string& section, const std::string& key, const std::string& value);

  // Deletes the file, then its backup; a missing one is fine. A file that
  // exists but cannot be deleted, or a store without the lock, throws
  // boost::filesystem::filesystem_error, and then the backup is left alone.
  // The values in memory stay.
  void DeleteFiles();

 private:
  void WriteFile();
  // 0 when the file may be written now, else why not.
  platform::ErrorNumber WhyNotWritable() const;

  SectionMap sections;
  boost::filesystem::path path;
  boost::filesystem::path backupPath;
  std::mutex lock;
  platform::SessionLock sessionLock = nullptr;
  platform::ErrorNumber lockError = 0;
  // Why the file at construction could not be read: 0 when it was, or one of
  // the "not found" numbers when there was none.
  platform::ErrorNumber readError = 0;
};

// SettingsStore: the product's per-user, INI-backed, write-through settings.
//
// A store is named ("settings", "window_positions"); the name picks the file
//   <roaming application data>\Cirrovane\settings_pro_Cirrovane XR_<name>.ini
// and the backup beside it, the same path with ".bak" appended.
//
// What it guarantees:
// - Stores of one name take turns across the user's processes in one
//   terminal session (not across sessions: fast user switching, a remote
//   desktop): a store takes a lock of its name before it loads the file and
//   holds it until it is destroyed. It waits kLockWaitMilliseconds at most,
//   also for an elevated launcher's lock, which may refuse it access; without
//   the lock it loads the file but never writes it or its backup.
// - Construction creates the folder when missing (else throws
//   boost::filesystem::filesystem_error) and loads the file; a missing file
//   gives an empty store. A file that is empty or holds a zero byte was left
//   so by a writer cut short; beside a backup that is neither, the store
//   holds the backup's settings with whatever the file still holds over them.
// - SetValue stores the value in memory and rewrites the whole file, even
//   when nothing changed, in the file's order (a new key at the end of its
//   section, a new section at the end). Where the value could not be
//   written it throws boost::filesystem::filesystem_error naming the file and
//   the reason; the file is as it was (the backup may hold its content by
//   then), and the value stays set in memory.
// - A file that exists but could not be read whole, or is marked read-only,
//   is never replaced, and its backup does not change.
// - The new content goes to a new file beside the file's real location (a
//   link at the path stays a link and its target gets the content). It is
//   written, given the file's hidden, system, archive and not-indexed marks,
//   flushed to the disk and renamed over the file in one step: whoever opens
//   the file finds the old content or the new one, whole, never no file. The
//   file takes the permissions every new file in its folder gets. Until the
//   rename only readers that allow deleting may open the new file, so a
//   scanner cannot hold it.
// - Just before that rename the backup gets, by the same road and tried
//   once, the file's content as the store read it or last wrote it; a
//   backup held by another program, or read-only, stays as it was. No file
//   read whole, or a damaged one beside a good backup, leaves the backup as
//   it is.
// - A rename refused while another program has the file open is tried again
//   every 10 ms until two seconds after the save began. So SetValue waits at
//   most kLockWaitMilliseconds (in the constructor) and two seconds, each
//   plus a timer tick, plus what the disk takes.
// - A launcher ended at any moment, or a system crash, leaves the file and
//   the backup each whole, with its old content or its new, which one not
//   specified after a crash: a new file is on the disk before its rename,
//   and NTFS's journal keeps a rename whole (FAT32 and exFAT keep no journal,
//   so a crash in the middle of a rename there may lose the file). The new
//   files of a save cut short stay until the next write deletes them.
// - Destruction writes nothing. What other programs change after
//   construction is overwritten by the next SetValue.
// - SetValue may be called from several threads; construction, DeleteFiles
//   and destruction stay on one thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

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
  void Load(std::string file);
  // Gives the file at its real location the text, and the backup
  // nextBackup; 0 or why the file could not have it.
  platform::ErrorNumber Save(const boost::filesystem::path& target, std::string_view text,
                             std::uint32_t keptAttributes);

  SectionMap sections;
  boost::filesystem::path path;
  boost::filesystem::path backupPath;
  std::mutex lock;
  platform::SessionLock sessionLock = nullptr;
  platform::ErrorNumber lockError = 0;
  // Why the file at construction could not be read: 0 when it was, or one of
  // the "not found" numbers when there was none.
  platform::ErrorNumber readError = 0;
  // What the next write puts in the backup: the file as read whole or last
  // written; none when the backup is to stay.
  std::optional<std::string> nextBackup;
  bool leftoversRemoved = false;
};

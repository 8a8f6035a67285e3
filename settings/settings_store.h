// SettingsStore: the product's per-user, INI-backed, write-through settings.
//
// A store is named ("settings", "window_positions"); the name picks the file
//   <roaming application data>\Cirrovane\settings_pro_Cirrovane XR_<name>.ini
// and the backup beside it, the same path with ".bak" appended.
//
// What it guarantees:
// - Stores of the same name are serialised across the user's processes in
//   one logon session (not across sessions: fast user switching, a remote
//   desktop): a store takes a session-wide lock of its name before it loads
//   the file and holds it until it is destroyed, so launches started together
//   never mix their reads and writes. A store that could not take the lock
//   within kLockWaitMilliseconds loads the file but never writes it or its
//   backup.
// - Construction creates the folder when missing and loads the file into
//   memory. A missing file gives an empty store; a folder that cannot be
//   created throws boost::filesystem::filesystem_error.
// - A file that exists but could not be read whole (held open without read
//   sharing, a read error, a folder in its place) is never replaced: nothing
//   of it or of its backup changes. Neither does a file marked read-only.
// - SetValue stores the value in memory and rewrites the whole file at once,
//   even when nothing changed, keeping the order of the file's sections and
//   keys: a new key goes to the end of its section, a new section to the end
//   of the file, and a file in the writer's form that already held the value
//   is rewritten byte for byte. When the value could not be written (no lock,
//   the file unreadable, read-only or held, a full disk) it throws
//   boost::filesystem::filesystem_error naming the file and the reason; the
//   value stays set in memory and the next SetValue tries again.
// - The new content goes to a newly created, uniquely named file beside the
//   file's real location (a link at the path is followed, so the link stays;
//   a link whose target is missing is replaced by a plain file). That file
//   is shared with no other program and stays open until it replaces the
//   file by one rename: written, given the file's hidden, system, archive and
//   not-indexed marks, flushed to the disk, renamed. Whoever reads the file
//   meanwhile finds the previous content or the new one, whole, never no
//   file. The file thereby takes the permissions that every new file in its
//   folder gets, not those the old file had.
// - Before that rename, once the new content is on disk, the backup is
//   replaced by the file's content as this store read it (or last wrote it),
//   by the same road. This is tried once: a failure, a backup held open by
//   another program included, leaves the old backup as it was and does not
//   stop the write. There is no backup without a file read whole, so an
//   existing backup is then left alone; so is a folder or a read-only file at
//   the backup's name, and so is the backup after a save cut short (see
//   below), as the file may then be torn.
// - Waiting: a rename refused because something holds the file for a moment
//   (a sharing violation, or access denied while another program has the
//   file open) is tried again every 10 ms until two seconds after the save
//   began; then the file is rewritten in place, as below. So SetValue waits at most
//   kLockWaitMilliseconds for the lock (in the constructor), plus two seconds
//   and one timer tick, plus what the disk itself takes to write and flush
//   the file and the backup.
// - A write that fails leaves the file and the backup whole, each the
//   previous or the new version. So does a launcher's end at any moment of a
//   write, however abrupt: the system deletes the new files, which were never
//   shared (one ended in the instant of a new file's creation may leave that
//   file, empty). A power cut may leave them; the first write of a store
//   deletes such temporary files beside the file and the backup: plain files
//   of exactly their naming, never a link or a folder, under the lock, so
//   never another launcher's.
// - After a system crash: each new file was flushed before its rename.
//   Windows does not promise that a rename is on the disk when it returns;
//   the file system's journal keeps it whole, so the file and the backup
//   each hold their previous content or the new one, whole; which one is not
//   specified.
// - Where another program holds the file open in a way that forbids
//   replacing it, or keeps it from being replaced for two seconds, the backup
//   is replaced as above and the file is rewritten in place instead (under
//   the lock, so no other launcher reads it meanwhile). That rewrite, cut
//   short by the launcher's end, a crash or a full disk, can leave the file
//   partly written. The backup then holds the previous version, and the new
//   file, kept beside the file until the rewrite is done, tells the next
//   write not to replace it.
// - Destruction writes nothing. Changes made by other programs after
//   construction are overwritten by the next SetValue.
// - SetValue calls on one store may come from several threads. Construction,
//   DeleteFiles and destruction must stay on one thread and not run
//   alongside them.
#pragma once

#include <cstdint>
#include <mutex>
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
  // Gives the file at its real location the text, and the backup the file's
  // content when `backUp`; 0 or why the file could not have it.
  platform::ErrorNumber Save(const boost::filesystem::path& target, std::string_view text,
                             std::uint32_t keptAttributes, bool backUp);

  SectionMap sections;
  boost::filesystem::path path;
  boost::filesystem::path backupPath;
  std::mutex lock;
  platform::SessionLock sessionLock = nullptr;
  platform::ErrorNumber lockError = 0;
  // Why the file at construction could not be read: 0 when it was, or one of
  // the "not found" numbers when there was none.
  platform::ErrorNumber readError = 0;
  // What the file holds as this store knows it: read whole, or last written.
  std::string fileBytes;
  bool leftoversRemoved = false;
};

// SettingsStore: the product's per-user, INI-backed, write-through settings.
//
// A name ("settings", "window_positions") picks the file
//   <roaming application data>\Cirrovane\settings_pro_Cirrovane XR_<name>.ini
// and its backup, the same path with ".bak" appended.
// - Stores of one name take turns across the user's processes in one session:
//   each holds the name's lock from before it reads the file until it goes.
// - SetValue puts the whole file, in its order, in the old one's place in one
//   step, after the backup got the old content (tried once: one held,
//   read-only or out of reach stays). A symbolic link stays a link and its
//   target gets the content; a hard link's other names keep the old one.
// - A failed save throws Failure (which file, the step refused, Windows'
//   reason) and leaves the file as it was; the backup too, or a copy of it.
// - Never written: a file not read whole, a read-only one, UTF-16 or UTF-32
//   text, a link whose target cannot be reached; nothing without the lock.
// - A file left empty or zeroed by a writer cut short gets back the backup's
//   settings under what it still holds, and never becomes the backup.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>

#include "platform/platform.h"
#include "settings/settings_format.h"

inline constexpr char kProductTitle[] = "Cirrovane XR";
inline constexpr char kProductFolder[] = "Cirrovane";

class SettingsStore {
 public:
  // How long a store waits for another process's store of the same name.
  // Reading the file and putting the new one in place each wait 2 s for a file
  // another program holds. Each wait may overrun by a timer tick, and by the
  // time a program holding an oplock on the file takes to let go of it.
  static constexpr unsigned kLockWaitMilliseconds = 5000;

  // What the store throws: the path and the Win32 error number; the step that
  // Windows refused, which tells what the number means (access denied to the
  // lock is an elevated launcher, to a rename a holder); and what the path is:
  // the settings file, its backup, the settings folder, or the folder a new
  // file was to be made in. `valueInPlace`: the file as left already held every
  // value of the store, the one SetValue was to set included.
  enum class Step { Folder, Lock, Read, Follow, Create, Write, Rename, Delete };
  enum class About { File, Backup, Folder, NewFileFolder };
  struct Failure : boost::filesystem::filesystem_error {
    Failure(const std::string& what, const boost::filesystem::path& file,
            boost::system::error_code error, Step step, About subject)
        : filesystem_error(what, file, error), refused(step), about(subject) {}
    Step refused;
    About about;
    bool valueInPlace = false;
  };

  // Creates the folder when missing (else throws Failure), waits for the lock
  // and loads the file; a missing one, or no lock, gives an empty store.
  explicit SettingsStore(const std::string& name);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Sets the key in the section, creating either when missing, and rewrites
  // the file, every call. Throws Failure when the file could not be written;
  // the value stays set in memory. The one call safe from several threads.
  void SetValue(const std::string& section, const std::string& key, const std::string& value);

  // Deletes the file, then its backup; a missing one is fine. A file that
  // cannot be deleted, or a store without the lock, throws Failure and leaves
  // the backup. The values in memory stay.
  void DeleteFiles();

 private:
  void WriteFile();
  void Load(std::string file);

  SectionMap sections;
  boost::filesystem::path path;
  boost::filesystem::path backupPath;
  std::mutex lock;
  platform::SessionLock sessionLock = nullptr;
  platform::ErrorNumber lockError = 0;
  // Why the file at construction could not be read or is not to be written (0
  // when it was read, "not found" when there was none), and which file.
  platform::ErrorNumber readError = 0;
  About unreadable = About::File;
  // What the next write puts in the backup: the file as read whole or last
  // written; none when the backup is to stay.
  std::optional<std::string> nextBackup;
};

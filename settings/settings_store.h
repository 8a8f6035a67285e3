// SettingsStore: the product's per-user, INI-backed, write-through settings.
//
// A store is named ("settings", "window_positions"); the name picks the file
//   <roaming application data>\Cirrovane\settings_pro_Cirrovane XR_<name>.ini
// and the backup beside it, the same path with ".bak" appended.
//
// What it guarantees:
// - Stores of one name take turns across the user's processes in one
//   terminal session: each holds a lock of its name from before it loads the
//   file until it is destroyed. It waits kLockWaitMilliseconds at most, also
//   for an elevated launcher's lock, which may refuse it access; without the
//   lock it never writes the file or its backup.
// - A file that is empty, or holds a zero byte and is no Unicode text, was
//   left so by a writer cut short (NTFS reads zeros past a file's valid
//   data); the reader skips every line holding one. Beside a backup that is
//   neither, the store holds the backup's settings with what the file still
//   holds laid over them; beside a backup that cannot be read, it writes
//   nothing. A damaged file never becomes the backup.
// - SetValue rewrites the whole file in the file's order (a new key at the
//   end of its section, a new section at the end). When the value cannot
//   reach the file it throws Failure naming the file, the reason and the
//   refused step, and the file is as it was; so is the backup, unless the
//   new content was on the disk already (then it holds the file's). A file
//   that could not be read whole, is read-only, or is UTF-16 or UTF-32 text
//   (with a byte-order mark or without) is never written.
// - The new content goes to a new file beside the file's real location (a
//   link stays a link), is given the file's hidden, system, archive and
//   not-indexed marks, flushed and renamed over the file in one step, then
//   closed. A reader that shares writing and deleting (FILE_SHARE_WRITE and
//   FILE_SHARE_DELETE) always finds the old content or the new. In the
//   instant between the rename and the close, one that does not share
//   deleting may be refused, which no rename on Windows avoids, and so may
//   one that does not share writing (the C runtime's fopen, .NET's
//   File.OpenRead), since the file is renamed through the handle that wrote
//   it. Until the rename only readers that share deleting may open the new
//   file; a scanner working in the kernel can ignore sharing. The file takes
//   the permissions new files in its folder get.
// - Just before that rename the backup gets the file's previous content, by
//   the same road, tried once: a backup held open or read-only stays as it
//   was.
// - While another program has the file open, Windows refuses its rename (a
//   sharing violation, or access denied, which may also mean no right to
//   replace it); a refused rename is tried again every 10 ms for two seconds.
//   So SetValue waits at most kLockWaitMilliseconds and two seconds, each
//   plus a timer tick, plus what the disk takes, plus the time a program
//   holding an oplock on the file or the backup (a sync client) takes to
//   acknowledge its break, which a rename or delete of the file waits for.
//   Construction, which reads the file, also waits for a write-caching
//   oplock's break, for which Windows sets no limit.
// - A launcher ended at any moment, or a system crash on NTFS, leaves the
//   file and the backup each whole, old or new (after a crash, which one is
//   not specified): a new file is on the disk before its rename, and NTFS's
//   journal keeps a rename whole. FAT32 and exFAT keep no journal, so a crash
//   during a rename there may lose the file. A save cut short leaves its new
//   files for the next write to delete.
// - Destruction writes nothing; what other programs change meanwhile is
//   overwritten by the next SetValue. SetValue may be called from several
//   threads; construction, DeleteFiles and destruction from one.
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
  static constexpr unsigned kLockWaitMilliseconds = 5000;

  // The step that Windows refused, which tells what its error number means:
  // access denied to the lock is an elevated launcher, to a rename a holder.
  enum class Step { Folder, Lock, Read, Create, Rename, Delete };

  // What the store throws: the file (or the folder that refused a new file),
  // the Win32 error number and the step.
  struct Failure : boost::filesystem::filesystem_error {
    Failure(const std::string& what, const boost::filesystem::path& file,
            boost::system::error_code error, Step step)
        : filesystem_error(what, file, error), refused(step) {}
    Step refused;
  };

  // Creates the folder when missing (else throws Failure) and loads the file;
  // a missing one gives an empty store.
  explicit SettingsStore(const std::string& name);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Sets the key in the section, creating either when missing, and rewrites
  // the file, every call. Throws Failure when the file could not be written;
  // the value stays set in memory.
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
  // Why the file at construction could not be read or is not to be written: 0
  // when it was read, or one of the "not found" numbers when there was none;
  // and the file it is about, the settings file or its backup.
  platform::ErrorNumber readError = 0;
  boost::filesystem::path unreadable;
  // What the next write puts in the backup: the file as read whole or last
  // written; none when the backup is to stay.
  std::optional<std::string> nextBackup;
};

#include "settings/settings_store.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

namespace fs = boost::filesystem;
using platform::ErrorNumber;

namespace {

// How long the read and the rename each wait for a file that another program
// holds for a moment (the simulator is suspended meanwhile). A sync client's
// oplock delays opening, renaming and deleting the file until it acknowledges
// the break, for which Windows sets no limit.
constexpr std::uint64_t kHeldFileWaitMilliseconds = 2000;
constexpr unsigned kRetryStepMilliseconds = 10;

// Names tried for a new file beside the same file by one process.
constexpr unsigned kTemporaryNamesPerProcess = 100;

// The marks a rewrite keeps of the old file (a read-only one is never
// written); its permissions are the ones new files in its folder get.
constexpr std::uint32_t kKeptAttributes = platform::kAttributeHidden | platform::kAttributeSystem |
                                          platform::kAttributeArchive |
                                          platform::kAttributeNotContentIndexed;

bool IsMissing(ErrorNumber error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

[[noreturn]] void ThrowFor(SettingsStore::Step step, SettingsStore::About about,
                           const fs::path& file, ErrorNumber error) {
  throw SettingsStore::Failure(
      "The settings folder or file cannot be used", file,
      boost::system::error_code(static_cast<int>(error), boost::system::system_category()), step,
      about);
}

// Runs `attempt` every step until it succeeds, fails otherwise than by a
// refusal that may pass (a sharing violation, or `passing`), or the deadline
// has gone by. A program having the file open refuses its rename with access
// denied too, and a read with a lock violation where it locked a range; an
// elevated launcher's lock refuses one without elevation access.
template <typename Attempt>
ErrorNumber TryUntil(std::uint64_t deadline, const Attempt& attempt,
                     ErrorNumber passing = platform::kErrorAccessDenied) {
  for (;;) {
    const ErrorNumber error = attempt();
    const bool mayPass = error == platform::kErrorSharingViolation || error == passing;
    if (!mayPass || platform::Milliseconds() >= deadline) return error;
    platform::Sleep(kRetryStepMilliseconds);
  }
}

// "<file>.<process id>-<n>.tmp": unique among the processes running, and
// told apart from everything else in the folder by IsTemporaryNameOf.
fs::path TemporaryName(fs::path file, std::uint32_t process, unsigned attempt) {
  file += "." + std::to_string(process) + "-" + std::to_string(attempt) + ".tmp";
  return file;
}

bool IsTemporaryNameOf(const fs::path::string_type& name, const fs::path::string_type& file) {
  const fs::path::string_type tail = {'.', 't', 'm', 'p'};
  if (name.size() < file.size() + 8 || name.compare(0, file.size(), file) != 0 ||
      name[file.size()] != '.' || name.compare(name.size() - 4, 4, tail) != 0) {
    return false;
  }
  const auto isDigit = [](auto c) { return c >= '0' && c <= '9'; };
  const auto begin = name.begin() + static_cast<std::ptrdiff_t>(file.size() + 1);
  const auto end = name.end() - 4;
  const auto dash = std::find_if_not(begin, end, isDigit);
  return dash != begin && dash != end && *dash == '-' && dash + 1 != end &&
         std::all_of(dash + 1, end, isDigit);
}

// Deletes what saves cut short left in the folder beside those of the files
// that it holds, under the session lock: names of their temporary naming that
// lead nowhere else (as a link would, which some systems show as a plain file).
void RemoveLeftovers(const fs::path& folder, const std::vector<fs::path>& files) {
  std::vector<fs::path> names;
  if (platform::ListFolder(folder, &names) != 0) return;
  for (const fs::path& name : names) {
    const bool temporary = std::any_of(files.begin(), files.end(), [&](const fs::path& file) {
      return file.parent_path() == folder &&
             IsTemporaryNameOf(name.native(), file.filename().native());
    });
    fs::path real;
    fs::path realFolder;
    if (temporary && platform::RealLocation(folder / name, &real) == 0 &&
        platform::RealLocation(folder, &realFolder) == 0 && real == realFolder / name) {
      platform::RemoveFile(folder / name);
    }
  }
}

// A new file, open from its creation to its rename so that no scanner gets
// hold of it in between, and deleted when it goes unless it took the old
// file's place. A launcher ended before then leaves it to RemoveLeftovers.
struct NewFile {
  NewFile() = default;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile() {
    Close();
    if (!path.empty()) platform::RemoveFile(path);
  }
  void Close() {
    if (opened != nullptr) platform::CloseFile(opened);
    opened = nullptr;
  }

  fs::path path;
  platform::OpenFile opened = nullptr;
};

// The bytes in a new file beside `file`, with the marks, on the disk.
ErrorNumber WriteNewFile(const fs::path& file, std::string_view bytes, std::uint32_t marks,
                         NewFile* created) {
  // A name is taken, or still held by a program that has the file deleted
  // there open (which Windows answers with access denied, also when asked for
  // its attributes). Where nothing stands, the name may have been freed since,
  // so it is asked once more; refused again, the folder forbids new files.
  ErrorNumber error = platform::kErrorFileExists;
  std::uint32_t attributes = 0;
  for (unsigned attempt = 0;
       attempt < kTemporaryNamesPerProcess &&
       (error == platform::kErrorFileExists || error == platform::kErrorAlreadyExists ||
        error == platform::kErrorAccessDenied);
       ++attempt) {
    const fs::path name = TemporaryName(file, platform::ProcessId(), attempt);
    error = platform::CreateNewFile(name, &created->opened);
    const bool nothingStands = error == platform::kErrorAccessDenied &&
                               IsMissing(platform::GetAttributes(name, &attributes));
    if (nothingStands) error = platform::CreateNewFile(name, &created->opened);
    if (error == 0) created->path = name;
    if (nothingStands && error == platform::kErrorAccessDenied) break;
  }
  if (error == 0) error = platform::WriteToFile(created->opened, bytes);
  if (error == 0 && marks != 0) error = platform::SetOpenFileAttributes(created->opened, marks);
  if (error == 0) error = platform::FlushToDisk(created->opened);
  return error;
}

// Puts the new file in the place of `target` before the deadline; by name
// where the file system cannot rename an open file. Readers sharing writing
// and deleting find the old content or the new; from the rename to the close,
// one not sharing deleting (any rename's instant) or writing (fopen, .NET's
// File.OpenRead: the handle that wrote renames) may be refused. Before it, only
// readers sharing deleting, and scanners in the kernel, open the new file.
ErrorNumber PutInPlace(NewFile& created, const fs::path& target, std::uint64_t deadline) {
  ErrorNumber error =
      TryUntil(deadline, [&] { return platform::RenameOpenFileOver(created.opened, target); });
  if (error == platform::kErrorNotSupported) {
    created.Close();
    error = TryUntil(deadline, [&] { return platform::RenameFileOver(created.path, target); });
  }
  if (error == 0) created.path.clear();  // Nothing left to delete.
  return error;
}

// Where a save of `file` puts its content: a link's target, else its place.
// Fails for a link (as Windows marks it) whose target cannot be reached.
ErrorNumber Destination(const fs::path& file, fs::path* target, std::uint32_t* attributes) {
  const ErrorNumber unreached = platform::RealLocation(file, target);
  if (unreached != 0) *target = file;
  if (platform::GetAttributes(*target, attributes) != 0) *attributes = 0;
  return (*attributes & platform::kAttributeReparsePoint) != 0 ? unreached : 0;
}

// What a writer cut short by a power cut leaves (its length reached the disk,
// its content did not, and NTFS reads zeros past a file's valid data to its
// end), and never a launch: it writes at least one section, and no zero byte.
bool IsDamaged(std::string_view bytes) {
  return bytes.empty() || bytes.find('\0') != std::string_view::npos;
}

// UTF-16 or UTF-32 of either byte order (Notepad, the INI functions, .NET),
// which the reader cannot read and a rewrite would lose: a byte-order mark, or
// a header among the whole units before a zero one or an odd end ("echo >>"
// appends ANSI, C code may write the terminator); ASCII needs zero bytes.
bool IsUnicodeText(std::string_view bytes) {
  const std::string_view marks[] = {"\xFF\xFE", "\xFE\xFF", {"\0\0\xFE\xFF", 4}};
  const auto marked = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (std::any_of(std::begin(marks), std::end(marks), marked)) return true;
  if (bytes.find('\0') == std::string_view::npos) return false;
  for (const std::size_t width : {2, 4}) {
    for (const bool bigEndian : {false, true}) {
      std::string text;  // The ASCII units as they are, any other as a letter.
      for (std::size_t at = 0; at + width <= bytes.size(); at += width) {
        std::uint32_t unit = 0;
        for (std::size_t i = 0; i < width; ++i)
          unit = unit << 8 | static_cast<std::uint8_t>(bytes[at + (bigEndian ? i : width - 1 - i)]);
        if (unit == 0) break;
        text += unit < 0x80 ? static_cast<char>(unit) : 'x';
      }
      SectionMap sections;
      ParseSections(text, sections);
      if (!sections.empty()) return true;
    }
  }
  return false;
}

}  // namespace

SettingsStore::SettingsStore(const std::string& name) {
  fs::path appData;
  const ErrorNumber unknown = platform::RoamingAppDataFolder(&appData);
  if (unknown != 0) ThrowFor(Step::Folder, About::Folder, appData, unknown);
  const fs::path folder = appData / kProductFolder;
  const ErrorNumber uncreated = platform::CreateFolders(folder);
  if (uncreated != 0) ThrowFor(Step::Folder, About::Folder, folder, uncreated);
  path = folder / ("settings_pro_" + std::string(kProductTitle) + "_" + name + ".ini");
  backupPath = path;
  backupPath += ".bak";

  const std::uint64_t deadline = platform::Milliseconds() + kLockWaitMilliseconds;
  lockError = TryUntil(deadline, [&] {
    const std::uint64_t now = std::min(platform::Milliseconds(), deadline);
    return platform::AcquireSessionLock(std::string(kProductTitle) + " settings store " + name,
                                        static_cast<unsigned>(deadline - now), &sessionLock);
  });
  if (sessionLock == nullptr) return;  // It could write nothing.
  std::string file;
  const auto read = [&] { return platform::ReadWholeFile(path, &file); };
  readError = TryUntil(platform::Milliseconds() + kHeldFileWaitMilliseconds, read,
                       platform::kErrorLockViolation);
  if (readError == 0 && IsUnicodeText(file)) readError = platform::kErrorUnsupportedType;
  if (readError == 0) Load(std::move(file));
}

SettingsStore::~SettingsStore() {
  if (sessionLock != nullptr) platform::ReleaseSessionLock(sessionLock);
}

void SettingsStore::SetValue(const std::string& section, const std::string& key,
                             const std::string& value) {
  const std::lock_guard<std::mutex> held(lock);
  sections[section].Set(key, value);
  try {
    WriteFile();
  } catch (Failure& failure) {
    SectionMap left;  // The file as left: as read whole or last written, if either.
    ParseSections(nextBackup.value_or(""), left);
    failure.valueInPlace = left == sections;
    throw;
  }
}

void SettingsStore::DeleteFiles() {
  if (sessionLock == nullptr) ThrowFor(Step::Lock, About::File, path, lockError);
  for (const About about : {About::File, About::Backup}) {
    const fs::path& file = about == About::File ? path : backupPath;
    const ErrorNumber error = platform::RemoveFile(file);
    if (error != 0 && !IsMissing(error)) ThrowFor(Step::Delete, about, file, error);
  }
}

void SettingsStore::Load(std::string file) {
  const bool damaged = IsDamaged(file);
  std::string backup;
  const ErrorNumber unread = damaged ? platform::ReadWholeFile(backupPath, &backup) : 0;
  // The backup may be the last copy of the settings: until it can be read,
  // the damaged file is not written.
  if (unread != 0 && !IsMissing(unread)) {
    readError = unread;
    unreadable = About::Backup;
    return;
  }
  // What a damaged file still holds is laid over a good backup's settings,
  // and it never becomes the backup.
  if (damaged && !IsDamaged(backup)) ParseSections(backup, sections);
  ParseSections(file, sections);
  if (!damaged) nextBackup = std::move(file);
}

void SettingsStore::WriteFile() {
  if (sessionLock == nullptr) ThrowFor(Step::Lock, About::File, path, lockError);
  fs::path target, backup;
  std::uint32_t attributes = 0, backupAttributes = 0;
  if (const ErrorNumber unreached = Destination(path, &target, &attributes)) {
    ThrowFor(Step::Follow, About::File, path, unreached);
  }
  if (readError != 0 && !IsMissing(readError)) {
    ThrowFor(Step::Read, unreadable, unreadable == About::File ? path : backupPath, readError);
  }
  if (attributes & platform::kAttributeReadOnly) {
    ThrowFor(Step::Rename, About::File, path, platform::kErrorFileReadOnly);
  }
  const bool backupStays = Destination(backupPath, &backup, &backupAttributes) != 0 ||
                           (backupAttributes & platform::kAttributeReadOnly) != 0;
  RemoveLeftovers(backup.parent_path(), {target, backup});
  if (target.parent_path() != backup.parent_path())
    RemoveLeftovers(target.parent_path(), {target, backup});

  const std::uint64_t deadline = platform::Milliseconds() + kHeldFileWaitMilliseconds;
  std::string text = FormatSections(sections);
  NewFile created;
  const ErrorNumber error = WriteNewFile(target, text, attributes & kKeptAttributes, &created);
  // A new file that could not be made names the folder that refused it.
  if (error != 0 && created.path.empty()) {
    ThrowFor(Step::Create, About::NewFileFolder, target.parent_path(), error);
  }
  if (error != 0) ThrowFor(Step::Write, About::File, path, error);
  // The backup is replaced once the new content is on the disk. NTFS's journal
  // keeps a rename whole, so a kill or a crash leaves each file old or new;
  // FAT32 and exFAT keep none, and a crash during a rename may lose the file.
  NewFile newBackup;  // By the same road, tried once.
  if (nextBackup && !backupStays && WriteNewFile(backup, *nextBackup, 0, &newBackup) == 0)
    PutInPlace(newBackup, backup, 0);
  if (const ErrorNumber unplaced = PutInPlace(created, target, deadline)) {
    ThrowFor(Step::Rename, About::File, path, unplaced);
  }
  // The next write backs up what this one wrote.
  readError = 0;
  nextBackup = std::move(text);
}

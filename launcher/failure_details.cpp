#include "launcher/failure_details.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include <boost/algorithm/string/replace.hpp>

#include "settings/settings_store.h"

namespace {

using platform::ErrorNumber;
using Step = SettingsStore::Step;

constexpr std::size_t kHoldersNamed = 3;

// The programs holding the file but the simulator, each name once: three,
// then how many more, nameless ones included; "" when none has a name.
std::string HoldersSentence(const boost::filesystem::path& file, const platform::Process* running) {
  std::vector<platform::FileHolder> holders;
  if (platform::ProgramsHoldingFile(file, &holders) != 0) return "";
  std::vector<std::string> names;
  std::size_t more = 0;  // Nameless ones, then those past the first three.
  for (const platform::FileHolder& holder : holders) {
    if (running != nullptr && holder.processId == running->processId) continue;
    if (holder.nameUtf8.empty()) {
      ++more;
    } else if (std::find(names.begin(), names.end(), holder.nameUtf8) == names.end()) {
      names.push_back(holder.nameUtf8);
    }
  }
  if (names.empty()) return "";
  const std::size_t named = std::min(names.size(), kHoldersNamed);
  std::string line = "It is open in: " + names[0];
  for (std::size_t i = 1; i < named; ++i) line += ", " + names[i];
  more += names.size() - named;
  if (more != 0) line += " and " + std::to_string(more) + " more";
  return line + (named + more == 1 ? "; close it" : "; close them");
}

// What stands at the failure's path, as a row asks for it.
enum Stands : unsigned { kNothing = 1, kFile = 2, kReadOnlyFile = 4, kFolder = 8, kAnything = 15 };

Stands StandingAt(const boost::filesystem::path& path) {
  std::uint32_t attributes = 0;
  if (platform::GetAttributes(path, &attributes) != 0) return kNothing;
  if (attributes & platform::kAttributeDirectory) return kFolder;
  return (attributes & platform::kAttributeReadOnly) ? kReadOnlyFile : kFile;
}

// A step as a row's mask of them, and a row's errors (any when none).
constexpr unsigned Bit(Step step) { return 1u << static_cast<unsigned>(step); }
constexpr unsigned kAnyStep = ~0u;
template <typename... Each>
constexpr std::array<ErrorNumber, 4> Errors(Each... errors) {
  return {errors...};
}
constexpr char kReadOnly[] = "The file is marked read-only: clear Read-only in its Properties";

// The cause in the pilot's words and what to do first, by the step refused,
// the error and what stands at the path; the first row that matches wins, and
// without one the path and Windows' reason say it all. {name} is the path's
// last part, {path} all of it, {about} the settings file or its backup.
const struct {
  unsigned steps;
  std::array<ErrorNumber, 4> errors;
  unsigned stands;
  const char* sentence;
  bool asksHolders;
} kCauses[] = {
    {Bit(Step::Lock), Errors(), kAnything,
     "Another Cirrovane launcher is saving the settings: let it finish", false},
    // Before any row that asks what stands at the path, which a share out of
    // reach would make wait again.
    {kAnyStep, Errors(platform::kErrorDiskFull, platform::kErrorHandleDiskFull), kAnything,
     "The disk that holds the settings is full: free some space on it", false},
    {kAnyStep,
     Errors(platform::kErrorBadNetPath, platform::kErrorNetNameDeleted, platform::kErrorBadNetName,
            platform::kErrorNetworkUnreachable),
     kAnything,
     "The network folder that holds the settings cannot be reached: connect to the network", false},
    {Bit(Step::Folder), Errors(), kFile | kReadOnlyFile,
     "A file named {name} stands where the settings folder belongs: move or rename it", false},
    {Bit(Step::Create), Errors(platform::kErrorAccessDenied), kAnything,
     "Windows does not let you create files in {path}: ask for the right to change that folder",
     false},
    {Bit(Step::Read) | Bit(Step::Rename) | Bit(Step::Delete), Errors(platform::kErrorAccessDenied),
     kFolder, "A folder named {name} stands where {about} belongs: move or rename it", false},
    {kAnyStep, Errors(platform::kErrorFileReadOnly), kAnything, kReadOnly, false},
    // Windows refuses to delete a read-only file as it refuses a held one.
    {Bit(Step::Delete), Errors(platform::kErrorAccessDenied), kReadOnlyFile, kReadOnly, false},
    {kAnyStep, Errors(platform::kErrorUnsupportedType), kAnything,
     "The file is saved as Unicode, which Cirrovane cannot read, so it was left as it is: save it "
     "as UTF-8 or ANSI in a text editor (Notepad: Save As, Encoding)",
     false},
    {kAnyStep, Errors(platform::kErrorSharingViolation, platform::kErrorLockViolation), kAnything,
     "A program keeps it open: close that program (it may be X-Plane from an earlier start, or a "
     "backup or sync tool)",
     true},
    {Bit(Step::Rename) | Bit(Step::Delete), Errors(platform::kErrorAccessDenied), kAnything,
     "A program may keep it open, or you may lack the right to change it: close that program or "
     "ask for the right",
     true},
    {Bit(Step::Follow), Errors(platform::kErrorFileNotFound, platform::kErrorPathNotFound),
     kAnything,
     "The settings file is a link whose target cannot be found: connect the drive or folder it "
     "leads to, or delete the link",
     false},
};

std::string Cause(const SettingsStore::Failure& failure, const platform::Process* running) {
  const auto error = static_cast<ErrorNumber>(failure.code().value());
  std::optional<Stands> stands;  // Read once, and only for a row that asks.
  for (const auto& row : kCauses) {
    const bool fits = row.errors[0] == 0 || std::count(row.errors.begin(), row.errors.end(), error);
    if ((row.steps & Bit(failure.refused)) == 0 || !fits) continue;
    if (row.stands != kAnything && !stands) stands = StandingAt(failure.path1());
    if (row.stands != kAnything && (row.stands & *stands) == 0) continue;
    std::string named = row.asksHolders ? HoldersSentence(failure.path1(), running) : "";
    if (!named.empty()) return named;
    std::string sentence = row.sentence;
    // The path last: a folder's name may hold anything.
    const bool backup = failure.about == SettingsStore::About::Backup;
    boost::replace_all(sentence, "{about}",
                       backup ? "the settings file's backup" : "the settings file");
    boost::replace_all(sentence, "{name}", platform::Utf8Name(failure.path1().filename()));
    boost::replace_all(sentence, "{path}", platform::Utf8Name(failure.path1()));
    return sentence;
  }
  return "";
}

}  // namespace

std::string FailureDetails(const std::exception& failure, const platform::Process* running) {
  const auto* refused = dynamic_cast<const SettingsStore::Failure*>(&failure);
  if (refused == nullptr || refused->path1().empty()) {
    return platform::Utf8FromAnsi(failure.what());
  }
  const std::string cause = Cause(*refused, running);
  // Once the simulator runs, starting again means quitting it first.
  const char* again = running ? ", then quit X-Plane and start Cirrovane again.\n"
                              : ", then start Cirrovane again.\n";
  return (cause.empty() ? "" : cause + again) + platform::Utf8Name(refused->path1()) + "\n" +
         platform::SystemReason(static_cast<ErrorNumber>(refused->code().value()));
}

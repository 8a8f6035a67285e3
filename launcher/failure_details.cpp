#include "launcher/failure_details.h"

#include <algorithm>
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

constexpr std::optional<Step> kAnyStep;
constexpr ErrorNumber kAnyError = 0;
constexpr char kNoneNamed[] =
    "A program may keep it open, or you may lack the right to change it: close that program or "
    "ask for the right";
constexpr char kReadOnly[] = "The file is marked read-only: clear Read-only in its Properties";

// The cause in the pilot's words and what to do first, by the step refused,
// the error and what stands at the path; the first row that matches wins, and
// without one the path and Windows' reason say it all. {name} is the path's
// last part, {path} all of it, {about} what it is.
const struct {
  std::optional<Step> step;
  ErrorNumber error;
  unsigned stands;
  const char* sentence;
  bool asksHolders;
} kCauses[] = {
    {Step::Lock, kAnyError, kAnything,
     "Another Cirrovane launcher is saving the settings: let it finish", false},
    {Step::Folder, kAnyError, kFile | kReadOnlyFile,
     "A file named {name} stands where {about} belongs: move or rename it", false},
    // Before a folder at the file's name: here the path is that folder.
    {Step::Create, platform::kErrorAccessDenied, kAnything,
     "Windows does not let you create files in {path}: ask for the right to change that folder",
     false},
    {kAnyStep, platform::kErrorAccessDenied, kFolder,
     "A folder named {name} stands where {about} belongs: move or rename it", false},
    {kAnyStep, platform::kErrorFileReadOnly, kAnything, kReadOnly, false},
    // Windows refuses to delete a read-only file as it refuses a held one.
    {Step::Delete, platform::kErrorAccessDenied, kReadOnlyFile, kReadOnly, false},
    {kAnyStep, platform::kErrorUnsupportedType, kAnything,
     "The file is saved as Unicode, which Cirrovane cannot read, so it was left as it is: save it "
     "as UTF-8 or ANSI in a text editor (Notepad: Save As, Encoding)",
     false},
    {kAnyStep, platform::kErrorSharingViolation, kAnything, kNoneNamed, true},
    {kAnyStep, platform::kErrorLockViolation, kAnything, kNoneNamed, true},
    {Step::Rename, platform::kErrorAccessDenied, kAnything, kNoneNamed, true},
    {Step::Delete, platform::kErrorAccessDenied, kAnything, kNoneNamed, true},
    {Step::Follow, kAnyError, kAnything,
     "The settings file is a link whose target cannot be found: connect the drive or folder it "
     "leads to, or delete the link",
     false},
};

const char* const kAbout[] = {"the settings file", "the settings file's backup",
                              "the settings folder", "that folder"};

std::string Cause(const SettingsStore::Failure& failure, const platform::Process* running) {
  const auto error = static_cast<ErrorNumber>(failure.code().value());
  std::optional<Stands> stands;  // Read once, and only for a row that asks.
  for (const auto& row : kCauses) {
    if ((row.step && row.step != failure.refused) || (row.error && row.error != error)) continue;
    if (row.stands != kAnything && !stands) stands = StandingAt(failure.path1());
    if (row.stands != kAnything && (row.stands & *stands) == 0) continue;
    std::string named = row.asksHolders ? HoldersSentence(failure.path1(), running) : "";
    if (!named.empty()) return named;
    std::string sentence = row.sentence;
    // The path last: a folder's name may hold anything.
    boost::replace_all(sentence, "{about}", kAbout[static_cast<int>(failure.about)]);
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

#include "launcher/failure_details.h"

#include <algorithm>
#include <vector>

#include "settings/settings_store.h"

namespace {

using platform::ErrorNumber;
using Step = SettingsStore::Step;

constexpr std::size_t kHoldersNamed = 3;

// The programs holding the file but the simulator, each name once: three,
// then how many more, nameless ones included; "" when none has a name.
std::string HolderNames(const boost::filesystem::path& file, const platform::Process* running) {
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
  std::string line = names[0];
  for (std::size_t i = 1; i < named; ++i) line += ", " + names[i];
  more += names.size() - named;
  return more == 0 ? line : line + " and " + std::to_string(more) + " more";
}

// The cause in the pilot's words and what to do first; "" when not known.
std::string Cause(const SettingsStore::Failure& failure, const platform::Process* running) {
  const auto error = static_cast<ErrorNumber>(failure.code().value());
  const Step step = failure.refused;
  std::uint32_t attributes = 0;
  const bool stands = platform::GetAttributes(failure.path1(), &attributes) == 0;
  if (step == Step::Lock) return "Another Cirrovane launcher is saving the settings: let it finish";
  // Windows refuses to delete a read-only file as it refuses a held one.
  if (error == platform::kErrorFileReadOnly ||
      (step == Step::Delete && (attributes & platform::kAttributeReadOnly))) {
    return "The file is marked read-only: clear Read-only in its Properties";
  }
  if (error == platform::kErrorUnsupportedType) {
    return "The file is saved as Unicode, which Cirrovane cannot read, so it was left as it is: "
           "save it as UTF-8 or ANSI in a text editor (Notepad: Save As, Encoding)";
  }
  // A program holding the file is the cause of a sharing violation anywhere,
  // and of access denied to replacing or deleting it. Asking who holds it
  // takes a moment, which no other failure waits for.
  if (error == platform::kErrorSharingViolation ||
      (error == platform::kErrorAccessDenied && (step == Step::Rename || step == Step::Delete))) {
    const std::string names = HolderNames(failure.path1(), running);
    return names.empty() ? "A program may keep it open, or you may lack the right to change it: "
                           "close that program or ask for the right"
                         : "It is open in: " + names + "; close them";
  }
  if (step == Step::Folder && stands) {
    return "A file named Cirrovane stands where the settings folder belongs: move or rename it";
  }
  if (step == Step::Create && error == platform::kErrorAccessDenied) {
    return "Windows does not let you create files in " + platform::Utf8Name(failure.path1()) +
           ": ask for the right to change that folder";
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

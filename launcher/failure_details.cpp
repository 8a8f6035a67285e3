#include "launcher/failure_details.h"

#include <algorithm>

#include <boost/filesystem/exception.hpp>

#include "platform/platform.h"

namespace {

constexpr std::size_t kHoldersNamed = 3;

// Who holds the file, asked only when Windows refused it because of another
// program: asking takes a moment, which no other failure need wait for.
std::string HoldersLine(const boost::filesystem::path& file, platform::ErrorNumber error) {
  if (error != platform::kErrorSharingViolation && error != platform::kErrorAccessDenied) return "";
  std::vector<std::string> names;
  if (platform::ProgramsHoldingFile(file, &names) != 0) return "";
  names.erase(std::remove(names.begin(), names.end(), ""), names.end());
  if (names.empty()) return "";
  std::string line = "\nIt is open in: " + names[0];
  for (std::size_t i = 1; i < std::min(names.size(), kHoldersNamed); ++i) line += ", " + names[i];
  if (names.size() <= kHoldersNamed) return line;
  return line + " and " + std::to_string(names.size() - kHoldersNamed) + " more";
}

// Boost words the system's reasons in the ANSI code page, which cannot hold
// every language's; the system is asked for the number's reason itself.
std::string Reason(const boost::filesystem::path& file, const boost::system::error_code& code) {
  if (code.category() == boost::system::system_category()) {
    const auto error = static_cast<platform::ErrorNumber>(code.value());
    return platform::SystemReason(error) + HoldersLine(file, error);
  }
  return platform::Utf8FromAnsi(code.message());
}

}  // namespace

std::string FailureDetails(const std::exception& failure) {
  const auto* fileFailure = dynamic_cast<const boost::filesystem::filesystem_error*>(&failure);
  if (fileFailure == nullptr || fileFailure->path1().empty()) {
    return platform::Utf8FromAnsi(failure.what());
  }
  return platform::Utf8Name(fileFailure->path1()) + "\n" +
         Reason(fileFailure->path1(), fileFailure->code());
}

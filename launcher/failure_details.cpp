#include "launcher/failure_details.h"

#include <boost/filesystem/exception.hpp>

#include "platform/platform.h"

namespace {

// Boost words the system's reasons in the ANSI code page, which cannot hold
// every language's; the system is asked for the number's reason itself.
std::string Reason(const boost::system::error_code& code) {
  if (code.category() == boost::system::system_category()) {
    return platform::SystemReason(static_cast<platform::ErrorNumber>(code.value()));
  }
  return platform::Utf8FromAnsi(code.message());
}

}  // namespace

std::string FailureDetails(const std::exception& failure) {
  const auto* fileFailure = dynamic_cast<const boost::filesystem::filesystem_error*>(&failure);
  if (fileFailure == nullptr || fileFailure->path1().empty()) {
    return platform::Utf8FromAnsi(failure.what());
  }
  return platform::Utf8Name(fileFailure->path1()) + "\n" + Reason(fileFailure->code());
}

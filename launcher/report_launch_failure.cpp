#include <boost/filesystem/operations.hpp>

#include "launcher/launcher.h"

namespace {

// The elevated copy starts where this one was started, so that it finds the
// simulator in the same folder rather than wherever the shell puts it.
boost::filesystem::path CurrentDirectoryOrNone() {
  boost::system::error_code unknown;
  boost::filesystem::path directory = boost::filesystem::current_path(unknown);
  return unknown ? boost::filesystem::path() : directory;
}

void RestartElevated(const std::string& productTitle) {
  const platform::ErrorNumber error =
      platform::StartElevated(platform::OwnExecutablePath(), CurrentDirectoryOrNone());
  if (error == 0) return;
  platform::ShowMessage(
      "Cirrovane requires administrator privileges in-order to run.\nPlease run Cirrovane as "
      "administrator.\nError: " +
          std::to_string(error),
      productTitle);
}

}  // namespace

void ReportLaunchFailure(platform::ErrorNumber error, const std::string& simulatorName,
                         const std::string& simulatorExecutable, const std::string& productTitle) {
  if (error == platform::kErrorElevationRequired) {
    RestartElevated(productTitle);
    return;
  }
  platform::ShowMessage("Cirrovane was unable to launch " + simulatorName +
                            ".\nPlease ensure that " + simulatorExecutable +
                            " is located in your flight simulator directory.",
                        productTitle);
}

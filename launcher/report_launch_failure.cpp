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
  const std::string cause =
      error == platform::kErrorCancelled
          ? "\nWindows asked whether Cirrovane may run as administrator, and it was not allowed: "
            "answer Yes when it asks, or right-click Cirrovane and choose \"Run as "
            "administrator\"."
          : "";
  platform::ShowMessage(
      "Cirrovane requires administrator privileges in-order to run.\nPlease run Cirrovane as "
      "administrator.\nError: " +
          std::to_string(error),
      productTitle, cause + "\n" + platform::SystemReason(error));
}

}  // namespace

void ReportLaunchFailure(platform::ErrorNumber error, const std::string& simulatorName,
                         const std::string& simulatorExecutable, const std::string& productTitle) {
  if (error == platform::kErrorElevationRequired) {
    RestartElevated(productTitle);
    return;
  }
  const std::string folder = platform::Utf8Name(CurrentDirectoryOrNone());
  const std::string cause =
      error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound
          ? "Cirrovane looked for " + simulatorExecutable + " in " + folder +
                ": start Cirrovane from " + simulatorName +
                "'s folder, or set its shortcut's \"Start in\" to that folder."
          : "Windows did not start the " + simulatorExecutable + " in " + folder +
                ", for the reason below.";
  platform::ShowMessage("Cirrovane was unable to launch " + simulatorName +
                            ".\nPlease ensure that " + simulatorExecutable +
                            " is located in your flight simulator directory.",
                        productTitle, "\n" + cause + "\n" + platform::SystemReason(error));
}

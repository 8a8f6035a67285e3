#include "launcher/failure_details.h"

#include <boost/filesystem/exception.hpp>

std::string FailureDetails(const std::exception& failure) {
  const auto* fileFailure = dynamic_cast<const boost::filesystem::filesystem_error*>(&failure);
  if (fileFailure == nullptr || fileFailure->path1().empty()) return failure.what();
  return fileFailure->path1().string() + "\n" + fileFailure->code().message();
}

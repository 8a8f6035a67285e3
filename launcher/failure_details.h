#pragma once

#include <exception>
#include <string>

// The path and the system's reason of a file-system failure, on two lines;
// for any other exception, its description. In UTF-8, as the details of a
// message, so that any folder name shows as it is.
std::string FailureDetails(const std::exception& failure);

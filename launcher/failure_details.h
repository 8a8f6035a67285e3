#pragma once

#include <exception>
#include <string>

// The path and the system's reason of a file-system failure, on two lines;
// for any other exception, its description.
std::string FailureDetails(const std::exception& failure);

#pragma once

#include <exception>
#include <string>

#include "platform/platform.h"

// What a box adds for a failure of the settings, in UTF-8 so that any folder
// name shows as it is: the cause and what to do where the refused step tells
// it, then the path and the system's reason; else the exception's description.
// `running` is the simulator once it was started, else nullptr.
std::string FailureDetails(const std::exception& failure, const platform::Process* running);

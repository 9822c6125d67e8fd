// The local date and time of the system clock.
#pragma once

#include <string>

namespace platform {

// The current local date and time as fourteen digits: year, month, day, hour, minute, second
// ("20240131235959").
std::string LocalDateTimeDigits();

}  // namespace platform

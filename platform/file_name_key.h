// The form of an absolute file name under which two spellings of the same
// file compare equal, for registries of open files: on Windows without regard
// to the case of ASCII letters and with either slash, elsewhere as given.
#pragma once

#include <string>

namespace platform {

std::string FileNameKey(std::string absolute_name);

}  // namespace platform

// The Linux console error box, on explicit streams so that tests can drive it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace platform {

// Writes the caption and the report (converted to UTF-8) to err. When
// interactive, prompts on err for one of the offered options and reads the
// answer from in (end of input counts as quit); otherwise answers `policy`
// when that option is offered, else quit.
uint32_t ConsoleErrorBox(std::FILE* in, std::FILE* err, bool interactive, uint32_t policy,
                         std::string_view text, std::string_view caption, uint32_t def,
                         uint32_t retry, uint32_t quit);

}  // namespace platform

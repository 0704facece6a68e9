// tabletool check-tree: the tables of a whole installation checked the way the
// tariff update would meet them. Read-only.
#pragma once

#include <ostream>
#include <string>

namespace tabletool {

// Reads program_dir + "Velmora.ini" (data root, laptop mode), then checks the
// two reference tables beside it, the practice list and the coefficient and
// key-letter tables of every practice the update would visit. Prints one line
// per table ("ok" or its faults) and a summary line to out. Returns 0 when
// everything is sound, 1 otherwise.
int CheckTree(const std::string& program_dir, std::ostream& out);

}  // namespace tabletool

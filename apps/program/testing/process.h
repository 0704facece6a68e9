// Starting the programs the build made (tarif2017, make-demo) from a test, as a user's
// shell or script would: arguments passed as they are, standard input empty, standard error
// discarded, standard output and the exit status collected.
#pragma once

#include <string>
#include <vector>

namespace tariff::testing {

// The directory of the running test program, where the build puts its programs too.
std::string ProgramDir();
// The file name of a program of the build: name + ".exe" on Windows.
std::string ProgramFile(const std::string& name);

struct ProgramRun {
  std::string out;  // standard output, bytes as written
  int status = -1;  // exit status; -1 when it could not be started, did not exit, or (on
                    // Windows) was still running after a minute and was ended
};
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args);

}  // namespace tariff::testing

#include "apps/program/testing/process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

namespace tariff::testing {

std::string ProgramDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::string ProgramFile(const std::string& name) {
  return (std::filesystem::path(ProgramDir()) / name).string();
}

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args) {
  ProgramRun run;
  int out[2];
  if (pipe(out) != 0) return run;
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return run;
  }
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDERR_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  std::array<char, 4096> buf;
  for (;;) {
    ssize_t n = read(out[0], buf.data(), buf.size());
    if (n > 0) {
      run.out.append(buf.data(), static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(out[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return run;
}

}  // namespace tariff::testing

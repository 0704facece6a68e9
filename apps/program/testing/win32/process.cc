#include "apps/program/testing/process.h"

#include <windows.h>

#include <filesystem>
#include <thread>

namespace tariff::testing {

namespace {

constexpr DWORD kPatienceMs = 60000;

// One argument quoted as the C runtime's command-line parser takes it back.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string q = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') backslashes = backslashes * 2 + 1;
    q.append(backslashes, '\\');
    backslashes = 0;
    q.push_back(c);
  }
  q.append(backslashes * 2, '\\');
  q.push_back('"');
  return q;
}

}  // namespace

std::string ProgramDir() {
  char path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::filesystem::path(std::string(path, n)).parent_path().string();
}

std::string ProgramFile(const std::string& name) {
  return (std::filesystem::path(ProgramDir()) / (name + ".exe")).string();
}

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& args) {
  ProgramRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  HANDLE null = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            &inherit, OPEN_EXISTING, 0, nullptr);
  std::string command = Quote(path);
  for (const std::string& a : args) command += " " + Quote(a);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = null;
  si.hStdOutput = write_end;
  si.hStdError = null;
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessA(path.c_str(), command.data(), nullptr, nullptr, TRUE,
                                CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(write_end);
  if (null != INVALID_HANDLE_VALUE) CloseHandle(null);
  if (started) {
    std::thread reader([&] {
      char buf[4096];
      DWORD n = 0;
      while (ReadFile(read_end, buf, sizeof buf, &n, nullptr) && n > 0) run.out.append(buf, n);
    });
    // A program waiting for a person (a box nobody answers) is ended: the test fails on
    // status -1 instead of hanging.
    if (WaitForSingleObject(pi.hProcess, kPatienceMs) == WAIT_OBJECT_0) {
      DWORD code = 0;
      if (GetExitCodeProcess(pi.hProcess, &code)) run.status = static_cast<int>(code);
    } else {
      TerminateProcess(pi.hProcess, 1);
      WaitForSingleObject(pi.hProcess, INFINITE);
    }
    reader.join();
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(read_end);
  return run;
}

}  // namespace tariff::testing

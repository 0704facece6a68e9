// The activation stack: which routines of the system are running, innermost
// first, with the module each belongs to and its current source line.
//
// Every routine registers itself on entry with RT_ROUTINE("CLASS:METHOD",
// "Module") and keeps its line current with RT_LINE() before statements that
// can fail. One frame per routine: a helper that only carries out part of a
// routine registers nothing and keeps the line of the routine it works for
// current with RT_LINE() (the line of the innermost frame). Level 0 is the
// innermost activation. One thread only.
#pragma once

#include <cstdint>
#include <string>

namespace rt {

class Routine {
 public:
  Routine(const char* name, const char* module, uint32_t line);
  ~Routine();
  Routine(const Routine&) = delete;
  Routine& operator=(const Routine&) = delete;
  void SetLine(uint32_t line) { line_ = line; }

 private:
  friend std::string ProcName(uint32_t);
  friend uint32_t ProcLine(uint32_t);
  friend std::string ProcFile(uint32_t);
  const char* name_;
  const char* module_;
  uint32_t line_;
};

// Sets the current line of the innermost activation (none: nothing happens).
void SetCurrentLine(uint32_t line);

// Depth of the activation stack (the second field of the runtime's descriptor).
uint32_t ActivationDepth();
// Per level; a level without an activation gives "" and 0.
std::string ProcName(uint32_t level);
uint32_t ProcLine(uint32_t level);
std::string ProcFile(uint32_t level);

}  // namespace rt

#define RT_ROUTINE(name, module) ::rt::Routine rt_routine_((name), (module), __LINE__)
#define RT_LINE() ::rt::SetCurrentLine(__LINE__)

// ErrorMessageBox: the runtime's modal error box, with exchangeable front ends.
//
// The default front end is the platform's (a modal box on Windows; on Linux the
// report on stderr and, on a terminal, a prompt, otherwise the answer policy
// the program chose). Tests install a ScriptedErrorBox that answers from a
// script and records every text and caption. One thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace rt {

// Option values as the default handler passes them: default 1 (0 = not
// offered), retry 2 (0), quit 0x80000003 (0x80000000 = no recovery point).
// The answer: 1 default, 2 retry, anything else quit.
class ErrorBoxFrontEnd {
 public:
  virtual ~ErrorBoxFrontEnd() = default;
  virtual uint32_t Show(const std::string& text, const std::string& caption, uint32_t def,
                        uint32_t retry, uint32_t quit) = 0;
};

uint32_t ErrorMessageBox(const std::string& text, const std::string& caption, uint32_t def,
                         uint32_t retry, uint32_t quit);
// Installs a front end (nullptr: back to the platform's); returns the old one.
std::shared_ptr<ErrorBoxFrontEnd> SetErrorBoxFrontEnd(std::shared_ptr<ErrorBoxFrontEnd> fe);

// Answers from a queue (default answer when empty) and records what it showed.
class ScriptedErrorBox : public ErrorBoxFrontEnd {
 public:
  struct Shown {
    std::string text, caption;
    uint32_t def, retry, quit;
  };
  explicit ScriptedErrorBox(uint32_t default_answer = 1) : default_answer_(default_answer) {}
  void Answer(uint32_t a) { answers_.push_back(a); }
  uint32_t Show(const std::string& text, const std::string& caption, uint32_t def, uint32_t retry,
                uint32_t quit) override;
  const std::vector<Shown>& shown() const { return shown_; }

 private:
  uint32_t default_answer_;
  std::deque<uint32_t> answers_;
  std::vector<Shown> shown_;
};

// Tone(frequency, duration): one beep.
void Tone(uint32_t frequency, uint32_t duration);

}  // namespace rt

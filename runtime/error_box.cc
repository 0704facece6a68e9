#include "runtime/error_box.h"

#include <cstdint>

#include "platform/dialogs.h"

namespace rt {
namespace {

class PlatformErrorBox : public ErrorBoxFrontEnd {
 public:
  uint32_t Show(const std::string& text, const std::string& caption, uint32_t def, uint32_t retry,
                uint32_t quit) override {
    return platform::ShowErrorBox(text, caption, def, retry, quit);
  }
};

std::shared_ptr<ErrorBoxFrontEnd>& Current() {
  static auto* front_end =
      new std::shared_ptr<ErrorBoxFrontEnd>(std::make_shared<PlatformErrorBox>());
  return *front_end;
}

}  // namespace

uint32_t ErrorMessageBox(const std::string& text, const std::string& caption, uint32_t def,
                         uint32_t retry, uint32_t quit) {
  // Held for the call: the box may run code that installs another front end.
  std::shared_ptr<ErrorBoxFrontEnd> front_end = Current();
  return front_end->Show(text, caption, def, retry, quit);
}

std::shared_ptr<ErrorBoxFrontEnd> SetErrorBoxFrontEnd(std::shared_ptr<ErrorBoxFrontEnd> fe) {
  std::shared_ptr<ErrorBoxFrontEnd> old = Current();
  Current() = fe ? std::move(fe) : std::make_shared<PlatformErrorBox>();
  return old;
}

uint32_t ScriptedErrorBox::Show(const std::string& text, const std::string& caption, uint32_t def,
                                uint32_t retry, uint32_t quit) {
  shown_.push_back({text, caption, def, retry, quit});
  if (answers_.empty()) return default_answer_;
  uint32_t answer = answers_.front();
  answers_.pop_front();
  return answer;
}

void Tone(uint32_t frequency, uint32_t duration) {
  // The duration counts clock ticks of 1/18.2 s, as the runtime always did.
  platform::Beep(frequency, static_cast<uint32_t>(uint64_t{duration} * 10000 / 182));
}

}  // namespace rt

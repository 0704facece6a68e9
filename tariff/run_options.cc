#include "tariff/run_options.h"

namespace tariff {
namespace {

RunOptions& Options() {
  static auto* options = new RunOptions;
  return *options;
}

}  // namespace

void SetRunOptions(const RunOptions& options) { Options() = options; }
const RunOptions& CurrentRunOptions() { return Options(); }

}  // namespace tariff

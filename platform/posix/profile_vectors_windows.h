// The Windows expectations that replace recorded Wine results in the replay
// of testdata/ini/vectors.json (profile_vectors_test.cc), each with its reason.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace platform {

// Rewrites the recorded case `name` in place where Windows (or this
// implementation, for a stated reason) differs; *skip_reason is set for a
// case that cannot be replayed on Linux at all.
void ApplyWindowsExpectations(const std::string& name, nlohmann::json* c,
                              std::string* skip_reason);

}  // namespace platform

// The Windows expectations that replace recorded Wine results in the replay
// of testdata/ini/vectors.json (profile_vectors_test.cc), each with its reason.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace platform {

// Rewrites the recorded case `name` in place where Windows (or this
// implementation, for a stated reason) differs; *skip_reason is set for a
// case that cannot be replayed on Linux at all.
void ApplyWindowsExpectations(const std::string& name, nlohmann::json* c, std::string* skip_reason);

// Every case named by the two lists, so that a misspelt name cannot go unseen.
std::vector<std::string> ListedVectorCases();
// Why the Wine recording stands for a case ("" when nothing is said).
std::string FollowingWineReason(const std::string& name);

}  // namespace platform

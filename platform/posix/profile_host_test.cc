// The host of the profile conformance suite: our own implementation.
namespace platform {

bool RunningUnderWine() { return false; }

}  // namespace platform

// A stand-in for the program's Error class, for tests of the layers below
// errors/ (the runtime, the table service): the 28 exported fields, no Init of
// its own. Tests of layers that have the real class (errors/) use that one.
#pragma once

namespace rt::testing {

void DeclarePlainErrorClass();

}  // namespace rt::testing

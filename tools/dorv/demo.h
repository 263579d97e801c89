// `dorv demo`: one whole filling through the real serial link to the built-in emulator.
#pragma once

#include <iosfwd>

#include "session.h"

namespace dorv::tools {

// Returns the process exit code: 0 when the filling ran from price to release and the
// totalizer grew by what was delivered.
int RunDemo(SessionOptions options, std::ostream& out);

}  // namespace dorv::tools

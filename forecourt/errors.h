// How the service fails. A request that cannot be done is answered, not thrown: the pumps give
// an Outcome, the decoders a message, and the router turns either into the error answer. What
// no caller can mend by asking again is thrown as one of these, and main decides the exit.
#pragma once

#include <stdexcept>

namespace forecourt {

// A bad station file, option or uplink setting; what() names the key and why.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database cannot be opened, read or written; what() carries SQLite's own words.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace forecourt

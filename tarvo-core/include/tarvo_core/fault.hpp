// The one exception type of the core: a broken internal invariant ("internal fault").
// User errors never throw; they come back as Result values.
#pragma once

#include <stdexcept>

namespace tarvo_core {

class InternalFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tarvo_core

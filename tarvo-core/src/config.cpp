// Configuration records: the one derived quantity, the time step.
#include "tarvo_core/config.hpp"

#include "tarvo_core/fault.hpp"

namespace tarvo_core::config {

double Config::dt() const {
    if (!solver.time_of_flight) {
        throw InternalFault("time_of_flight must be set before dt()");
    }
    return *solver.time_of_flight / static_cast<double>(solver.n);
}

}  // namespace tarvo_core::config

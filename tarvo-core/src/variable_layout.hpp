// Columns of the decision vector for n nodes: all states first (r_k, v_k), then all thrust
// accelerations u_k, all bounds sigma_k on their magnitudes and all log-masses z_k.
#pragma once

#include <cstddef>

namespace tarvo_core::assemble {

struct VariableLayout {
    std::size_t n = 0;

    std::size_t position(std::size_t k, std::size_t axis) const { return 6 * k + axis; }
    std::size_t velocity(std::size_t k, std::size_t axis) const { return 6 * k + 3 + axis; }
    std::size_t thrust_acceleration(std::size_t k, std::size_t axis) const {
        return 6 * n + 3 * k + axis;
    }
    std::size_t acceleration_bound(std::size_t k) const { return 9 * n + k; }  // sigma_k
    std::size_t log_mass(std::size_t k) const { return 10 * n + k; }
    std::size_t variable_count() const { return 11 * n; }
};

}  // namespace tarvo_core::assemble

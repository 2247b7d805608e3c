// Helpers shared by the core's tests: a small landing, exact comparison of arrays, and the
// stored entries of one row of a column-wise matrix.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "clarabel_bridge/clarabel.hpp"
#include "tarvo_core/config.hpp"

namespace test_support {

// The terms of one row: (column, coefficient) pairs.
using Terms = std::vector<std::pair<std::size_t, double>>;

// The default vehicle on 15 nodes (fast to solve), at a fixed or searched time of flight.
inline tarvo_core::config::Config small_landing(std::optional<double> tof) {
    tarvo_core::config::Config config;
    config.solver.n = 15;
    config.solver.time_of_flight = tof;
    return config;
}

// True when both arrays hold the same bytes: equal numbers, signed zeros and NaNs alike.
template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Stored entries of one row of A, in column order.
inline Terms row_of(const clarabel_bridge::CscMatrix& a, std::size_t row) {
    Terms terms;
    for (std::size_t j = 0; j < a.n; ++j) {
        for (std::size_t p = a.colptr[j]; p < a.colptr[j + 1]; ++p) {
            if (a.rowval[p] == row) terms.emplace_back(j, a.nzval[p]);
        }
    }
    return terms;
}

}  // namespace test_support

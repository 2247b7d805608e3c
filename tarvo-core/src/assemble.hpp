// Assembly of the fixed-horizon landing problem into one second-order cone program in the
// solver's form: minimise 1/2 x'Px + q'x subject to A x + s = b, s in the cones.
//
// Decision vector of 11N entries: r_k at 6k, v_k at 6k+3, u_k at 6N+3k, sigma_k at 9N+k,
// z_k (log-mass) at 10N+k (see variable_layout.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clarabel_bridge/clarabel.hpp"
#include "tarvo_core/config.hpp"
#include "tarvo_core/result.hpp"

namespace tarvo_core::assemble {

// One sparse row; its slack is rhs - sum(coefficient * x[column]).
struct Row {
    std::vector<std::pair<std::size_t, double>> terms;
    double rhs = 0.0;
};

// States rows[0] >= || rows[1..dim-1] || over the rows' slacks.
struct SocBlock {
    std::vector<Row> rows;
    std::size_t dim = 0;
};

struct Problem {
    clarabel_bridge::CscMatrix P;
    std::vector<double> q;
    clarabel_bridge::CscMatrix A;
    std::vector<double> b;
    std::vector<clarabel_bridge::SupportedConeT> cones;
};

// Largest node count accepted. Assembly and solve take about 20 kB a node, so this many
// nodes (1.1 million variables, 2.3 million rows) need about 2 GB. The ceiling keeps well clear
// of the machine's memory: the solver aborts the process when its own allocation fails.
inline constexpr std::uint64_t max_node_count = 100'000;

// Why a node count cannot be assembled (zero, or so large that the program's sizes overflow
// or cannot reasonably be allocated); nullopt when it can.
std::optional<std::string> node_count_error(std::uint64_t n);

// The time grid of one fixed-horizon problem: nodes t_k = k dt, k = 0 .. N-1, with
// dt = time_of_flight / N. Only node counts that node_count_error accepts make one.
class Horizon {
public:
    // The horizon of n nodes over the time of flight, or the node-count error text as an
    // invalid input.
    static Result<Horizon> of(std::uint64_t n, double time_of_flight);

    std::size_t node_count() const { return node_count_; }
    double time_of_flight() const { return time_of_flight_; }
    double dt() const { return time_of_flight_ / static_cast<double>(node_count_); }

private:
    Horizon(std::size_t node_count, double time_of_flight)
        : node_count_(node_count), time_of_flight_(time_of_flight) {}

    std::size_t node_count_;
    double time_of_flight_;
};

// Equality rows: initial state and log-mass, dynamics per interval, terminal state (7N+6).
std::vector<Row> equality_rows(const config::Config& config, const Horizon& horizon);

// The whole program for the configuration's vehicle and environment over the horizon.
Problem build_problem(const config::Config& config, const Horizon& horizon);

}  // namespace tarvo_core::assemble

// Equality rows: initial state and log-mass, the discretised dynamics of every interval
// (exact integrals for u linear between nodes, trapezoidal log-mass), terminal state.
#include <cmath>
#include <cstddef>
#include <vector>

#include "assemble.hpp"
#include "variable_layout.hpp"

namespace tarvo_core::assemble {
namespace {

// Interval coefficients, formed once from dt; the order of operations fixes their rounding.
struct IntervalCoefficients {
    double position_v;        // -dt
    double position_u_start;  // -dt^2/3
    double position_u_end;    // -dt^2/6
    double velocity_u;        // -dt/2
    double mass_sigma;        // alpha dt/2
    double position_rhs[3];   // dt^2 g_i/2
    double velocity_rhs[3];   // dt g_i
};

IntervalCoefficients interval_coefficients(double dt, double alpha, const config::Vec3& g) {
    const double dt2 = dt * dt;
    IntervalCoefficients coef{-dt, dt2 / -3.0, dt2 / -6.0, dt * -0.5, (dt * alpha) * 0.5, {}, {}};
    for (std::size_t i = 0; i < 3; ++i) {
        coef.position_rhs[i] = dt2 * g[i] / 2.0;
        coef.velocity_rhs[i] = dt * g[i];
    }
    return coef;
}

// x[column] = value.
Row fixed_value(std::size_t column, double value) { return Row{{{column, 1.0}}, value}; }

void append_initial_rows(std::vector<Row>& rows, const VariableLayout& at,
                         const config::Spacecraft& sc) {
    for (std::size_t i = 0; i < 3; ++i) {
        rows.push_back(fixed_value(at.position(0, i), sc.initial_position[i]));
    }
    for (std::size_t i = 0; i < 3; ++i) {
        rows.push_back(fixed_value(at.velocity(0, i), sc.initial_velocity[i]));
    }
    rows.push_back(fixed_value(at.log_mass(0), std::log(sc.wet_mass)));
}

// Seven rows linking node k to node k+1: three position, three velocity, one log-mass.
void append_interval_rows(std::vector<Row>& rows, const VariableLayout& at, std::size_t k,
                          const IntervalCoefficients& coef) {
    for (std::size_t i = 0; i < 3; ++i) {
        rows.push_back(Row{{{at.position(k + 1, i), 1.0},
                            {at.position(k, i), -1.0},
                            {at.velocity(k, i), coef.position_v},
                            {at.thrust_acceleration(k, i), coef.position_u_start},
                            {at.thrust_acceleration(k + 1, i), coef.position_u_end}},
                           coef.position_rhs[i]});
    }
    for (std::size_t i = 0; i < 3; ++i) {
        rows.push_back(Row{{{at.velocity(k + 1, i), 1.0},
                            {at.velocity(k, i), -1.0},
                            {at.thrust_acceleration(k, i), coef.velocity_u},
                            {at.thrust_acceleration(k + 1, i), coef.velocity_u}},
                           coef.velocity_rhs[i]});
    }
    rows.push_back(Row{{{at.log_mass(k + 1), 1.0},
                        {at.log_mass(k), -1.0},
                        {at.acceleration_bound(k), coef.mass_sigma},
                        {at.acceleration_bound(k + 1), coef.mass_sigma}},
                       0.0});
}

void append_terminal_rows(std::vector<Row>& rows, const VariableLayout& at,
                          const config::Spacecraft& sc) {
    const std::size_t last = at.n - 1;
    for (std::size_t i = 0; i < 3; ++i) {
        rows.push_back(fixed_value(at.position(last, i), sc.target_position[i]));
    }
    for (std::size_t i = 0; i < 3; ++i) {
        rows.push_back(fixed_value(at.velocity(last, i), sc.target_velocity[i]));
    }
}

}  // namespace

std::vector<Row> equality_rows(const config::Config& config, const Horizon& horizon) {
    const VariableLayout at{horizon.node_count()};
    const config::Spacecraft& sc = config.spacecraft;
    const IntervalCoefficients coef =
        interval_coefficients(horizon.dt(), sc.fuel_consumption, config.environment.gravity);

    std::vector<Row> rows;
    rows.reserve(7 * at.n + 6);
    append_initial_rows(rows, at, sc);
    for (std::size_t k = 0; k + 1 < at.n; ++k) append_interval_rows(rows, at, k, coef);
    append_terminal_rows(rows, at, sc);
    return rows;
}

}  // namespace tarvo_core::assemble

// Inequality groups of the landing problem: height floor or glide slope, thrust bounds
// expanded about the reference log-mass, dry-mass floor, speed limit, thrust magnitude.
#include "cone_rows.hpp"

#include <cmath>
#include <cstddef>

#include "radians.hpp"

namespace tarvo_core::assemble {
namespace {

// One term, right-hand side 0.
Row one_term_row(std::size_t column, double coefficient) { return Row{{{column, coefficient}}, 0.0}; }

}  // namespace

double glide_slope_sine(double angle_deg) { return std::sin(radians(angle_deg)); }

std::vector<Row> altitude_rows(const VariableLayout& at) {
    std::vector<Row> rows;
    rows.reserve(at.n);
    for (std::size_t k = 0; k < at.n; ++k) rows.push_back(one_term_row(at.position(k, 2), -1.0));
    return rows;
}

std::vector<SocBlock> glide_slope_blocks(const VariableLayout& at, double sine) {
    std::vector<SocBlock> blocks;
    blocks.reserve(at.n);
    for (std::size_t k = 0; k < at.n; ++k) {
        blocks.push_back(SocBlock{{one_term_row(at.position(k, 2), -1.0),
                                   one_term_row(at.position(k, 0), -sine),
                                   one_term_row(at.position(k, 1), -sine),
                                   one_term_row(at.position(k, 2), -sine)},
                                  4});
    }
    return blocks;
}

std::vector<Row> upper_thrust_and_dry_mass_rows(const VariableLayout& at,
                                                const ReferenceProfile& profile,
                                                const config::Spacecraft& spacecraft) {
    std::vector<Row> rows;
    rows.reserve(at.n + 1);
    for (std::size_t k = 0; k < at.n; ++k) {
        rows.push_back(
            Row{{{at.log_mass(k), 1.0}, {at.acceleration_bound(k), profile.c[k]}},
                1.0 + profile.z0[k]});
    }
    const double dry_mass = spacecraft.wet_mass - spacecraft.fuel;
    rows.push_back(Row{{{at.log_mass(at.n - 1), -1.0}}, -std::log(dry_mass)});
    return rows;
}

std::vector<SocBlock> velocity_blocks(const VariableLayout& at, double max_velocity) {
    std::vector<SocBlock> blocks;
    blocks.reserve(at.n);
    for (std::size_t k = 0; k < at.n; ++k) {
        blocks.push_back(SocBlock{{Row{{}, max_velocity},
                                   one_term_row(at.velocity(k, 0), -1.0),
                                   one_term_row(at.velocity(k, 1), -1.0),
                                   one_term_row(at.velocity(k, 2), -1.0)},
                                  4});
    }
    return blocks;
}

std::vector<SocBlock> thrust_magnitude_blocks(const VariableLayout& at) {
    std::vector<SocBlock> blocks;
    blocks.reserve(at.n);
    for (std::size_t k = 0; k < at.n; ++k) {
        blocks.push_back(SocBlock{{one_term_row(at.acceleration_bound(k), -1.0),
                                   one_term_row(at.thrust_acceleration(k, 0), -1.0),
                                   one_term_row(at.thrust_acceleration(k, 1), -1.0),
                                   one_term_row(at.thrust_acceleration(k, 2), -1.0)},
                                  4});
    }
    return blocks;
}

// With delta = z_k - z0_k and w = d_k sigma_k the slacks are 2w + 2delta - 1, 2delta and
// 2w + 2delta - 3; the cone then states w >= 1 - delta + delta^2/2.
std::vector<SocBlock> lower_thrust_blocks(const VariableLayout& at,
                                          const ReferenceProfile& profile) {
    std::vector<SocBlock> blocks;
    blocks.reserve(at.n);
    for (std::size_t k = 0; k < at.n; ++k) {
        const std::size_t sigma = at.acceleration_bound(k);
        const std::size_t z = at.log_mass(k);
        const double sigma_coefficient = profile.d[k] * -2.0;
        const double base_rhs = profile.z0[k] * -2.0;
        blocks.push_back(SocBlock{{Row{{{sigma, sigma_coefficient}, {z, -2.0}}, base_rhs + -1.0},
                                   Row{{{z, -2.0}}, base_rhs},
                                   Row{{{sigma, sigma_coefficient}, {z, -2.0}}, base_rhs + -3.0}},
                                  3});
    }
    return blocks;
}

}  // namespace tarvo_core::assemble

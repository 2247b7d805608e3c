// Reference log-mass profile: z0_k = ln(m_wet - (alpha dt rho2) k) and the expansion factors.
#include "reference_profile.hpp"

#include <cmath>
#include <limits>

namespace tarvo_core::assemble {

ThrustBounds thrust_bounds(const config::Spacecraft& spacecraft) {
    return {spacecraft.real_max_thrust * spacecraft.min_thrust_pct,
            spacecraft.real_max_thrust * spacecraft.max_thrust_pct};
}

double reference_mass_lasts(const config::Spacecraft& spacecraft, ThrustBounds bounds) {
    return spacecraft.wet_mass / (spacecraft.fuel_consumption * bounds.upper);
}

ReferenceProfile reference_profile(const config::Spacecraft& spacecraft, ThrustBounds bounds,
                                   const Horizon& horizon) {
    const std::size_t node_count = horizon.node_count();
    ReferenceProfile profile;
    profile.z0.reserve(node_count);
    profile.c.reserve(node_count);
    profile.d.reserve(node_count);

    // Mass burnt per node at the upper bound, formed once in this order.
    const double burn_per_node = spacecraft.fuel_consumption * horizon.dt() * bounds.upper;
    for (std::size_t k = 0; k < node_count; ++k) {
        const double mass = spacecraft.wet_mass - burn_per_node * static_cast<double>(k);
        const double z0 = std::log(mass);
        const double mu = std::exp(-z0);
        profile.z0.push_back(z0);
        profile.c.push_back(1.0 / (bounds.upper * mu));
        profile.d.push_back(bounds.lower == 0.0 ? std::numeric_limits<double>::infinity()
                                                : 1.0 / (bounds.lower * mu));
    }
    return profile;
}

ReferenceProfile profile_about(const std::vector<double>& log_mass,
                               const std::vector<double>& margin, ThrustBounds bounds) {
    ReferenceProfile profile;
    profile.z0 = log_mass;
    for (std::size_t k = 0; k < log_mass.size(); ++k) {
        const double mu = std::exp(-log_mass[k]);
        profile.c.push_back(1.0 / (bounds.upper * (1.0 - margin[k]) * mu));
        profile.d.push_back(bounds.lower == 0.0 ? std::numeric_limits<double>::infinity()
                                                : 1.0 / (bounds.lower * mu));
    }
    return profile;
}

}  // namespace tarvo_core::assemble

// The time-of-flight search of the continuous method. It finds windows of landing times
// narrower than the grid step, and refines within them:
// - the trials are solves of the program (limits held between nodes), scored as asked; when
//   the score is the final mass, without the fuel limit (first_program): a trial short of
//   fuel fails, yet keeps its final mass as its score, so the search climbs the mass towards
//   the window of enough fuel and within it maximises the mass;
// - when no grid point lands and the score is the final mass, a trial that fails outright
//   is scored by its distance from the target, below every mass: the lifted program landing
//   as near as it can on the target's plane. It vanishes at the window of reach;
// - when still no grid point counts and the bracket reaches past the time at which the
//   reference mass runs out (no program exists there: a vehicle that throttles to almost
//   nothing gets a bracket of the time its fuel lasts at that thrust), the scan is made again
//   on the part of the bracket before that time, and the search goes on from there;
// - the golden section keeps, when both interior points fail outright, the part holding the
//   best time of flight seen, so a window between them is not lost;
// - the landing is made flyable at the best time of flight seen; should that fail, at the
//   next best ones. Those lie together where the best time sits at an edge of the window,
//   and a flyable landing, whose margins leave less room than the trials, may exist only
//   further in: then it is made at the landing nearest the middle of the window, and a
//   bisection between there and the best time finds the flyable one nearest the best time.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "number_text.hpp"
#include "plan_trials.hpp"
#include "reference_profile.hpp"
#include "search_steps.hpp"
#include "thrust_pointing.hpp"

namespace tarvo_core::plan {
namespace {

using search::TrialReport;

constexpr double kFailed = -std::numeric_limits<double>::infinity();
// Times of flight at which a flyable landing is tried, best first.
constexpr std::size_t kFlyableCandidates = 3;
// Bisection steps towards the best time from a flyable landing further in the window.
constexpr int kBoundarySteps = 7;

// The trials used so far, in order: the best time of flight seen and the landings.
class TrialLog {
public:
    void add(const TrialReport& report) {
        if (report.score > kFailed && (!best_ || report.score > best_score_)) {
            best_ = report.time_of_flight;
            best_score_ = report.score;
        }
        if (report.ok || report.failure == FailureKind::infeasible) {  // landed, or short of fuel
            landings_.push_back(report);
        }
    }

    // The time of flight of the best score seen (landings and measured failures alike).
    std::optional<double> best() const { return best_; }

    // Distinct times of flight of the landings and of the trials short of fuel, the best score
    // first (the earlier of equals).
    std::vector<double> candidates(std::size_t count) const {
        std::vector<TrialReport> sorted = landings_;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return a.score > b.score;
        });
        std::vector<double> times;
        for (const TrialReport& report : sorted) {
            if (times.size() < count &&
                std::find(times.begin(), times.end(), report.time_of_flight) == times.end()) {
                times.push_back(report.time_of_flight);
            }
        }
        return times;
    }

    // The time of flight of the landing nearest the middle of the landings' times (the first
    // seen of equals); none without landings.
    std::optional<double> inner_landing() const {
        double lo = std::numeric_limits<double>::infinity();
        double hi = -lo;
        for (const TrialReport& report : landings_) {
            if (report.ok) {
                lo = std::fmin(lo, report.time_of_flight);
                hi = std::fmax(hi, report.time_of_flight);
            }
        }
        const double middle = (lo + hi) / 2.0;
        std::optional<double> nearest;
        for (const TrialReport& report : landings_) {
            const double off = std::fabs(report.time_of_flight - middle);
            if (report.ok && (!nearest || off < std::fabs(*nearest - middle))) {
                nearest = report.time_of_flight;
            }
        }
        return nearest;
    }

private:
    std::optional<double> best_;
    double best_score_ = kFailed;
    std::vector<TrialReport> landings_;
};

// The best successful trial evaluated so far, kept so that the flyable landing at its time of
// flight needs no second solve of the program. Trials may be evaluated at once.
class BestTrajectory {
public:
    void offer(const TrialReport& report, const Result<solve::Trajectory>& outcome) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (outcome && (!kept_ || report.score > score_)) {
            kept_ = outcome.value();
            score_ = report.score;
        }
    }

    std::optional<solve::Trajectory> take(double tof) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (kept_ && kept_->time_of_flight == tof) {
            return std::exchange(kept_, std::nullopt);
        }
        return std::nullopt;
    }

private:
    std::mutex mutex_;
    std::optional<solve::Trajectory> kept_;
    double score_ = kFailed;
};

// How far a trial is from landing, for a search of the final mass.
struct MissMeasure {
    std::optional<LandingProgram> nearest;  // the lifted program landing nearest on the plane
    double dry_mass;
    double reach;  // metres from the start to the target, at least 1
};

std::optional<MissMeasure> miss_measure(const config::Config& config,
                                        const LandingProgram& lifted) {
    if (lifted.formulation.fuel_limit) {  // the program minimises the distance
        return std::nullopt;
    }
    const config::Spacecraft& craft = config.spacecraft;
    MissMeasure measure{std::nullopt, craft.wet_mass - craft.fuel, 1.0};
    if (const std::optional<config::Vec3> up = up_direction(config.environment.gravity)) {
        measure.nearest = lifted;
        measure.nearest->formulation.terminal_plane = assemble::TerminalPlane{*up, std::nullopt};
    }
    const config::Vec3& a = craft.initial_position;
    const config::Vec3& b = craft.target_position;
    measure.reach = std::fmax(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 1.0);
    return measure;
}

// The report of a trial of the lifted program that lands below the dry mass: a failure that
// keeps its final mass as its score.
void fail_short_of_fuel(TrialReport& report, double dry_mass) {
    report.ok = false;
    report.failure = FailureKind::infeasible;
    report.status = "infeasible: the landing needs " +
                    number_text(dry_mass - report.final_mass) + " kg more fuel than it carries";
    report.final_mass = kFailed;
    report.iterations = 0;
}

// Whether a report counts for this search: a landing, or a trial whose miss is measured.
bool measured(const TrialReport& report) { return report.score > kFailed; }

double distance(const solve::Trajectory& t, const config::Vec3& target) {
    const config::Vec3& last = t.positions.back();
    return std::hypot(last[0] - target[0], last[1] - target[1], last[2] - target[2]);
}

using FlyableAt = std::function<Result<solve::Trajectory>(double tof)>;
using ReportTrial = std::function<void(double tof, const Result<solve::Trajectory>&)>;

bool was_cancelled(const Result<solve::Trajectory>& outcome) {
    return !outcome && outcome.error().kind == FailureKind::cancelled;
}

// The flyable landing at `inner`, then kBoundarySteps of bisection between it and `edge`,
// where none was found: the flyable landing nearest `edge`, or the failure at `inner`. Every
// trial is reported, the one of the landing returned last.
Result<solve::Trajectory> flyable_towards(double edge, double inner, const FlyableAt& flyable_at,
                                          const ReportTrial& report) {
    Result<solve::Trajectory> landing = flyable_at(inner);
    for (int step = 0; landing && step < kBoundarySteps; ++step) {
        const double middle = (edge + inner) / 2.0;
        Result<solve::Trajectory> outcome = flyable_at(middle);
        if (outcome) {
            report(inner, landing);
            inner = middle;
            landing = std::move(outcome);
            continue;
        }
        report(middle, outcome);
        if (was_cancelled(outcome)) {
            report(inner, landing);
            return outcome;
        }
        edge = middle;
    }
    report(inner, landing);
    return landing;
}

// The flyable landing at the best times of flight seen; should all fail, the flyable landing
// between the best of them and the landed time nearest the window's middle, nearest the best
// (flyable_towards); else the failure at the best time.
Result<solve::Trajectory> flyable_landing(const TrialLog& log, const search::Bracket& bracket,
                                          const FlyableAt& flyable_at, const ReportTrial& report) {
    const std::vector<double> tried = log.candidates(kFlyableCandidates);
    std::optional<Failure> first_failure;
    for (const double tof : tried) {
        Result<solve::Trajectory> outcome = flyable_at(tof);
        report(tof, outcome);
        if (outcome || was_cancelled(outcome)) {
            return outcome;
        }
        if (!first_failure) {
            first_failure = outcome.error();
        }
    }
    if (!first_failure) {
        return search::no_feasible_point(bracket);
    }
    const std::optional<double> inner = log.inner_landing();
    if (inner && std::find(tried.begin(), tried.end(), *inner) == tried.end()) {
        Result<solve::Trajectory> further =
            flyable_towards(tried.front(), *inner, flyable_at, report);
        if (further || was_cancelled(further)) {
            return further;
        }
    }
    return std::move(*first_failure);
}

// The part of `bracket` up to the time at which the program's reference mass runs out, where
// the bracket reaches past it; none otherwise.
std::optional<search::Bracket> defined_part(const config::Config& config,
                                            const search::Bracket& bracket) {
    const config::Spacecraft& craft = config.spacecraft;
    const double lasts = assemble::reference_mass_lasts(craft, assemble::thrust_bounds(craft));
    if (bracket.lo < lasts && lasts < bracket.hi) {
        return search::Bracket{bracket.lo, lasts};
    }
    return std::nullopt;
}

}  // namespace

Result<solve::Trajectory> PlanTrials::window_search(const LandingProgram& program,
                                                    const Score& score) {
    search::Bracket bracket = search::choose_bracket(config_);
    const LandingProgram trial_program = score ? program : first_program(program);
    // Trials score their final mass, short of fuel or not; a miss scores -1 - distance / reach.
    const std::optional<MissMeasure> measure = miss_measure(config_, trial_program);
    TrialLog log;
    BestTrajectory kept;
    const auto landing = [&](double tof) {
        const Result<solve::Trajectory> outcome = solve(tof, trial_program);
        TrialReport report = search::trial_report(tof, outcome);
        if (report.ok && score) {
            report.score = score(outcome.value());
        }
        if (report.ok && measure && report.final_mass < measure->dry_mass) {
            fail_short_of_fuel(report, measure->dry_mass);
        }
        kept.offer(report, outcome);
        return report;
    };
    const auto miss = [&](double tof) {
        if (!measure->nearest) {
            return kFailed;
        }
        const Result<solve::Trajectory> nearest = solve(tof, *measure->nearest);
        if (!nearest) {
            return kFailed;
        }
        const double off = distance(nearest.value(), config_.spacecraft.target_position);
        return -1.0 - off / measure->reach;
    };
    const auto observe = [&](const TrialReport& report) {
        log.add(report);
        use(report);
    };
    const search::TrialRunner plain(landing, options_.parallel_for, options_.width, observe);
    bool guided = false;
    // The grid point of `span` to refine about: the best landing, else the one nearest to
    // landing (guided); -1 when none counts.
    const auto scan = [&](const search::Bracket& span) {
        const std::vector<TrialReport> grid = search::scan_grid(plain, span);
        int centre = search::best_report(grid, measured);
        if (centre < 0 && measure) {
            // How far each grid point is from landing: the nearest lies next to the window.
            std::vector<double> times;
            for (const TrialReport& report : grid) {
                times.push_back(report.time_of_flight);
            }
            const auto measure_miss = [&](double tof) {
                return TrialReport{tof, false, kFailed, "", 0, miss(tof), {}, {}};
            };
            const std::vector<TrialReport> misses =
                search::TrialRunner(measure_miss, options_.parallel_for, options_.width, {})
                    .run(times);
            for (const TrialReport& report : misses) {
                log.add(report);
            }
            centre = search::best_report(misses, measured);
            guided = centre >= 0;
        }
        return centre;
    };
    int centre = scan(bracket);
    if (const std::optional<search::Bracket> defined = defined_part(config_, bracket);
        centre < 0 && defined) {
        bracket = *defined;
        centre = scan(bracket);
    }
    if (centre < 0) {
        return search::no_feasible_point(bracket);
    }
    const search::TrialRunner measuring(
        [&](double tof) {
            TrialReport report = landing(tof);
            if (report.score == kFailed) {
                report.score = miss(tof);
            }
            return report;
        },
        options_.parallel_for, options_.width, observe);
    const auto keep_lower = [&log](const search::Golden& golden) {
        if (golden.f1 == kFailed && golden.f2 == kFailed) {
            return log.best().value_or(golden.a) <= golden.x2;
        }
        return golden.f1 >= golden.f2;
    };
    search::refine(guided ? measuring : plain, bracket.grid_time(std::max(centre - 1, 0)),
                   bracket.grid_time(std::min(centre + 1, search::kGridIntervals)), keep_lower);
    const FlyableAt flyable_at = [&](double tof) {
        std::optional<solve::Trajectory> first = kept.take(tof);
        Result<solve::Trajectory> outcome =
            first ? Result<solve::Trajectory>(std::move(*first)) : solve(tof, trial_program);
        if (outcome) {
            outcome = flyable(tof, program, std::move(outcome).value());
        }
        return outcome;
    };
    const ReportTrial report = [this](double tof, const Result<solve::Trajectory>& outcome) {
        use(search::trial_report(tof, outcome));
    };
    return flyable_landing(log, bracket, flyable_at, report);
}

}  // namespace tarvo_core::plan

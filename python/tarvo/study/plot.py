"""The figure of a dispersion study (a matplotlib Figure on an Agg canvas, without pyplot's
global state)."""

from __future__ import annotations

from .._optional import agg_figure

__all__ = ["study_figure"]

LANDED, FAILED = "tab:green", "tab:red"
POSITION = "spacecraft.initial_position"


def study_figure(study):
    """Three panels: the fuel used by the successful runs, the initial positions in the
    horizontal plane coloured by outcome, and time of flight against fuel used; a closed-loop
    study adds the touchdowns around the target."""
    table = study.table
    flown = "landed" in table.columns  # a closed-loop study: a fourth panel, the touchdowns
    figure = agg_figure("plotting a study", figsize=(20.0 if flown else 15.0, 4.6),
                        layout="constrained")
    fuel_axes, position_axes, tof_axes, *touchdown_axes = figure.subplots(1, 4 if flown else 3)
    landed = table[table["ok"].astype(bool)]
    _fuel_histogram(fuel_axes, landed["fuel_used"].dropna().to_numpy())
    _initial_positions(position_axes, study)
    _time_of_flight_against_fuel(tof_axes, landed)
    summary = study.summary()
    title = f"Monte Carlo study: {summary.successes} of {summary.runs} runs landed"
    if flown:
        from ..flight.plot import touchdown_scatter

        touchdown_scatter(touchdown_axes[0], table)
        title = (f"Monte Carlo study: {summary.successes} of {summary.runs} runs planned, "
                 f"{summary.flights.landings} landed in flight")
    figure.suptitle(title)
    return figure


def _fuel_histogram(axes, fuel):
    axes.hist(fuel, bins=max(1, min(30, len(fuel) // 5)), color=LANDED, edgecolor="white")
    axes.set_xlabel("fuel used (kg)")
    axes.set_ylabel("runs")
    axes.set_title("Fuel used")


def _initial_positions(axes, study):
    table = study.table
    ok = table["ok"].astype(bool).to_numpy()
    columns = [f"{POSITION}[{k}]" for k in (0, 1)]
    if all(name in table.columns for name in columns):
        x, y = (table[name].to_numpy() for name in columns)
    elif study.config is not None:  # not dispersed: every run starts at the nominal position
        import numpy

        nominal = study.config.spacecraft.initial_position
        x, y = numpy.full(len(table), nominal[0]), numpy.full(len(table), nominal[1])
    else:
        x = y = None
    if x is not None:
        axes.scatter(x[ok], y[ok], s=12, color=LANDED, label="landed")
        axes.scatter(x[~ok], y[~ok], s=18, color=FAILED, marker="x", label="failed")
        axes.legend(loc="best")
    else:
        axes.text(0.5, 0.5, "initial positions not recorded", ha="center", va="center",
                  transform=axes.transAxes)
    axes.set_xlabel("x (m)")
    axes.set_ylabel("y (m)")
    axes.set_title("Initial position (horizontal)")


def _time_of_flight_against_fuel(axes, landed):
    axes.scatter(landed["time_of_flight"].to_numpy(), landed["fuel_used"].to_numpy(),
                 s=12, color=LANDED)
    axes.set_xlabel("time of flight (s)")
    axes.set_ylabel("fuel used (kg)")
    axes.set_title("Time of flight against fuel")

"""The summary of a dispersion study: success rate with its Wilson interval, spreads, failures."""

from __future__ import annotations

import math
from dataclasses import dataclass, field

__all__ = ["StudySummary", "Spread", "wilson_interval", "summarise"]

# Two-sided 95 % quantile of the standard normal distribution.
Z_95 = 1.959963984540054


def wilson_interval(successes: int, trials: int, z: float = Z_95) -> tuple[float, float]:
    """The Wilson score interval of a success rate.

    With no trials nothing is known and the interval is (0, 1). The bounds are exactly 0 when
    nothing succeeded and exactly 1 when everything did.
    """
    if trials < 0 or not 0 <= successes <= trials:
        raise ValueError(f"need 0 <= successes <= trials, got {successes} of {trials}")
    if trials == 0:
        return 0.0, 1.0
    rate = successes / trials
    z2 = z * z
    denominator = 1.0 + z2 / trials
    centre = (rate + z2 / (2 * trials)) / denominator
    spread = math.sqrt(rate * (1 - rate) / trials + z2 / (4 * trials * trials))
    half_width = z * spread / denominator
    low = 0.0 if successes == 0 else max(0.0, centre - half_width)
    high = 1.0 if successes == trials else min(1.0, centre + half_width)
    return low, high


@dataclass(frozen=True)
class Spread:
    """Mean, sample standard deviation and the 5th, 50th and 95th percentiles; NaN when empty."""

    mean: float
    std: float
    p5: float
    p50: float
    p95: float

    @classmethod
    def of(cls, values) -> "Spread":
        import numpy

        values = numpy.asarray(values, dtype=float)
        if values.size == 0:
            return cls(*(math.nan,) * 5)
        std = float(values.std(ddof=1)) if values.size > 1 else math.nan
        p5, p50, p95 = (float(p) for p in numpy.percentile(values, [5, 50, 95]))
        return cls(float(values.mean()), std, p5, p50, p95)

    def __str__(self) -> str:
        return "  ".join(f"{name} {getattr(self, key):.6g}" for name, key in (
            ("mean", "mean"), ("std", "std"), ("P5", "p5"), ("P50", "p50"), ("P95", "p95")))


@dataclass(frozen=True)
class StudySummary:
    """What a study found: ``runs``, ``successes``, ``success_rate`` (NaN without runs) and its
    Wilson 95 % ``success_interval``; the spreads of ``fuel_used`` (kg) and ``time_of_flight``
    (s) over the successful runs; ``failures``: the number of failed runs by status;
    ``flights``: for a closed-loop study, what its flights found (a
    `tarvo.flight.study.FlightSummary`: landing rate, touchdown errors, re-plans), else None."""

    runs: int
    successes: int
    success_rate: float
    success_interval: tuple[float, float]
    fuel_used: Spread
    time_of_flight: Spread
    failures: dict[str, int] = field(default_factory=dict)
    flights: object = None

    def __str__(self) -> str:
        low, high = self.success_interval
        rate = "n/a" if math.isnan(self.success_rate) else f"{self.success_rate * 100:.1f} %"
        failures = ", ".join(f"{status} {count}" for status, count in self.failures.items())
        return "\n".join([
            f"runs:               {self.runs}",
            f"succeeded:          {self.successes} ({rate}; "
            f"95 % interval {low * 100:.1f} % to {high * 100:.1f} %)",
            f"fuel used (kg):     {self.fuel_used}",
            f"time of flight (s): {self.time_of_flight}",
            f"failures:           {failures or 'none'}",
        ] + ([] if self.flights is None else [str(self.flights)]))


def summarise(table) -> StudySummary:
    """The summary of a study table (one row per run, with ``ok``, ``status`` and outcomes)."""
    runs = len(table)
    succeeded = table[table["ok"].astype(bool)]
    successes = len(succeeded)
    counts = table.loc[~table["ok"].astype(bool), "status"].astype(str).value_counts()
    failures = {str(status): int(count) for status, count in
                sorted(counts.items(), key=lambda item: (-item[1], item[0]))}
    return StudySummary(
        runs=runs,
        successes=successes,
        success_rate=successes / runs if runs else math.nan,
        success_interval=wilson_interval(successes, runs),
        fuel_used=Spread.of(succeeded["fuel_used"].dropna()),
        time_of_flight=Spread.of(succeeded["time_of_flight"].dropna()),
        failures=failures,
        flights=_flight_summary(table),
    )


def _flight_summary(table):
    if "landed" not in table.columns:
        return None
    from ..flight.study import flight_summary

    return flight_summary(table)

"""`Verification` and `Check`: the outcome of checking a landing against its physics."""

from __future__ import annotations

from dataclasses import dataclass
from typing import NamedTuple

__all__ = ["Check", "Verification"]


class Check(NamedTuple):
    """One verification check of a landing.

    - ``name``: what is checked ("minimum thrust", "dynamics: position", ...).
    - ``worst``: the worst value found, in ``unit``: a deviation or a gap for the
      consistency checks, the physical value itself (a thrust, a speed, a mass) for the
      limits; NaN when the trajectory holds non-finite numbers.
    - ``tolerance``: how far ``worst`` may go beyond the limit (0 for a deviation) and
      still pass, in ``unit``.
    - ``passed``: whether it held; a NaN ``worst`` never passes.
    - ``detail``: the limit, where the worst value lies, and what it is measured on.
    """

    name: str
    worst: float
    unit: str
    tolerance: float
    passed: bool
    detail: str


@dataclass(frozen=True)
class Verification:
    """The checks of one landing (see `Landing.verify`); ``ok`` when every check passed.

    ``str()`` gives a printable report, one line per check.
    """

    checks: tuple[Check, ...]

    def __post_init__(self) -> None:
        object.__setattr__(self, "checks", tuple(self.checks))

    @property
    def ok(self) -> bool:
        return all(check.passed for check in self.checks)

    @property
    def failed(self) -> tuple[Check, ...]:
        """The checks that did not pass, in report order."""
        return tuple(check for check in self.checks if not check.passed)

    def failure_message(self) -> str:
        """One line naming every failed check with its worst value and detail (the message
        of a landing that failed its verification); "" when every check passed."""
        failed = self.failed
        if not failed:
            return ""
        return "verification failed: " + "; ".join(
            f"{check.name} {_quantity(check.worst, check.unit)} ({check.detail})"
            for check in failed)

    def __getitem__(self, name: str) -> Check:
        """The check called ``name``."""
        for check in self.checks:
            if check.name == name:
                return check
        raise KeyError(name)

    def __repr__(self) -> str:
        failed = tuple(check.name for check in self.failed)
        return f"Verification(ok={self.ok}, failed={failed!r}, checks={len(self.checks)})"

    def __str__(self) -> str:
        failed = self.failed
        if failed:
            names = ", ".join(check.name for check in failed)
            head = f"Verification FAILED: {len(failed)} of {len(self.checks)} checks ({names})"
        else:
            head = f"Verification passed: all {len(self.checks)} checks"
        rows = [("check", "worst", "tolerance", "result", "detail")]
        for check in self.checks:
            rows.append((
                check.name,
                _quantity(check.worst, check.unit),
                _quantity(check.tolerance, check.unit),
                "pass" if check.passed else "FAIL",
                check.detail,
            ))
        widths = [max(len(row[column]) for row in rows) for column in range(4)]
        lines = [head]
        for row in rows:
            cells = [cell.ljust(width) for cell, width in zip(row, widths)]
            lines.append("  " + "  ".join((*cells, row[4])).rstrip())
        return "\n".join(lines)


def _quantity(value: float, unit: str) -> str:
    return f"{value:.6g} {unit}".rstrip()

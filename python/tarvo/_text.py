"""Numbers in messages and summaries: short, whatever their size."""

from __future__ import annotations

import math
import re

__all__ = ["fixed", "shorten_numbers"]

# From this size on, fixed notation would spell out 16 digits or more before the point.
LARGE = 1e15

# A number in fixed notation with at least 16 digits before its point, standing alone.
_LONG_NUMBER = re.compile(r"(?<![\w.])-?\d{16,}(?:\.\d+)?(?![\w.])")


def fixed(value: float, places: int = 3) -> str:
    """``value`` with ``places`` decimals ("44.237"); from 1e15 in size on, Python's shortest
    text that reads back as the same float ("1e+308"), not its 309 digits."""
    value = float(value)
    if math.isfinite(value) and abs(value) >= LARGE:
        return repr(value)
    return f"{value:.{places}f}"


def shorten_numbers(text: str) -> str:
    """``text`` with every long fixed-notation number written as `fixed` would write it
    (for a text made elsewhere, such as the solver's "no feasible time-of-flight in
    [1.000, 41666...544.000]")."""
    return _LONG_NUMBER.sub(lambda match: fixed(float(match.group())), text)

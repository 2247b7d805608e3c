"""Exact extremes on the unit interval, one row per interval between nodes, vectorised.

The verification needs the lowest thrust, the highest speed and the deepest point below the
glide slope between nodes. Each is found where its derivative vanishes: a root bracketed by
a sign change is refined by Newton steps kept inside the bracket, falling back to bisection,
to 1e-14 of the interval; the roots of a quadratic come in closed form.
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

__all__ = ["bracketed_roots", "quadratic_roots", "cubic_roots", "root_quadratic_integral"]

ROOT_TOLERANCE = 1e-14  # on the fraction of the interval
MAX_STEPS = 100  # bisection alone reaches the tolerance in 47

# Eight-point Gauss-Legendre rule on [0, 1]: exact for |u| on an interval whose least |u|
# lies several interval widths away, where |u(s)| is smooth.
GAUSS_X, GAUSS_W = np.polynomial.legendre.leggauss(8)
GAUSS_X = (GAUSS_X + 1.0) / 2.0
GAUSS_W = GAUSS_W / 2.0
# Within this many interval widths of the least |u|, where |u(s)| may have a near-kink, the
# burn comes in closed form instead.
_CLOSED_FORM_REACH = 4.0

# The function of the bracketed problems at the given index: x -> (value, slope at x).
Function = Callable[[np.ndarray], tuple[np.ndarray, np.ndarray]]
# Divisions by zero and NaNs are expected on the way (a root at a turning point, a constant
# quadratic) and sorted out by the comparisons that follow.
_quiet = np.errstate(divide="ignore", invalid="ignore", over="ignore")


@_quiet
def bracketed_roots(
    function_at: Callable[[tuple[np.ndarray, ...]], Function], bracketed, low, high,
) -> np.ndarray:
    """Where ``bracketed``, a root between ``low`` and ``high``; elsewhere ``low``.

    ``function_at(index)`` gives the function of the bracketed elements at ``index`` (as
    from ``numpy.nonzero``): x -> (value, slope at x), whose value changes sign over each
    bracket. Only those elements are solved.
    """
    low, high = np.broadcast_arrays(np.asarray(low, dtype=float), np.asarray(high, dtype=float))
    roots = low.copy()
    index = np.nonzero(bracketed)
    if index[0].size:
        roots[index] = _bracketed_root(function_at(index), low[index], high[index])
    return roots


def _bracketed_root(function: Function, low: np.ndarray, high: np.ndarray) -> np.ndarray:
    """Per element, a root of ``function`` in [low, high]: a Newton step where it stays
    inside the bracket, else the false-position point (which finds a root at an end of the
    bracket at once), and every third step the midpoint, so that the bracket shrinks. A root
    is found when the Newton step or the bracket falls within the tolerance (the bracket
    does where the function's rounding outweighs its slope times the tolerance). A NaN
    gives NaN or a point of its bracket, never an endless loop."""
    low, high = low.copy(), high.copy()
    at_low, at_high = function(low)[0], function(high)[0]
    x = np.where(at_low == 0.0, low, np.where(at_high == 0.0, high, (low + high) / 2.0))
    for step in range(MAX_STEPS):
        value, slope = function(x)
        beyond = np.sign(value) == np.sign(at_low)  # the root lies above x
        low, at_low = np.where(beyond, x, low), np.where(beyond, value, at_low)
        high, at_high = np.where(beyond, high, x), np.where(beyond, at_high, value)
        middle = (low + high) / 2.0
        fallback = middle if step % 3 == 2 else (
            (low * at_high - high * at_low) / (at_high - at_low))
        newton = x - value / slope
        converged = ((value == 0.0) | ~(high - low > ROOT_TOLERANCE)
                     | ~(np.abs(newton - x) > ROOT_TOLERANCE))  # NaN: given up
        inside = (newton > low) & (newton < high)
        fallback = np.where((fallback > low) & (fallback < high), fallback, middle)
        x = np.where(converged, x, np.where(inside, newton, fallback))
        if converged.all():
            break
    return x


@_quiet
def quadratic_roots(c0, c1, c2) -> tuple[np.ndarray, np.ndarray]:
    """The real roots of c0 + c1*s + c2*s^2, elementwise, NaN where there is none.

    The form that avoids cancellation; a vanishing c2 gives the linear root and NaN.
    """
    c0, c1, c2 = np.broadcast_arrays(*(np.asarray(c, dtype=float) for c in (c0, c1, c2)))
    root = np.sqrt(c1 * c1 - 4.0 * c2 * c0)  # NaN without real roots
    q = -(c1 + np.copysign(root, c1)) / 2.0
    quadratic = c2 != 0.0
    first = np.where(quadratic, q / c2, -c0 / c1)
    second = np.where(quadratic, c0 / q, np.nan)
    return first, second


@_quiet
def cubic_roots(c0, c1, c2, c3) -> np.ndarray:
    """The roots of c0 + c1*s + c2*s^2 + c3*s^3 in [0, 1], one row per polynomial: shape
    (rows, 3), NaN for a root that is not there (a root on the end of a piece may come twice).

    The turning points split [0, 1] into pieces on which the cubic is monotone; a piece
    whose ends differ in sign holds one root.
    """
    def cubic_at(index):
        rows = index[0]
        d0, d1, d2, d3 = c0[rows], c1[rows], c2[rows], c3[rows]
        return lambda s: (d0 + s * (d1 + s * (d2 + s * d3)), d1 + s * (2.0 * d2 + s * 3.0 * d3))

    turning = np.stack(quadratic_roots(c1, 2.0 * c2, 3.0 * c3), axis=1)
    turning = np.where((turning > 0.0) & (turning < 1.0), turning, 1.0)
    rows = len(c0)
    edges = np.sort(np.hstack((np.zeros((rows, 1)), turning, np.ones((rows, 1)))), axis=1)
    low, high = edges[:, :-1], edges[:, 1:]
    at_low = _polynomial((c0, c1, c2, c3), low)
    at_high = _polynomial((c0, c1, c2, c3), high)
    crossing = (np.sign(at_low) != np.sign(at_high)) | (at_low == 0.0)
    roots = bracketed_roots(cubic_at, crossing, low, high)
    return np.where(crossing, roots, np.nan)


def _polynomial(coefficients, s):
    """sum of coefficients[i] * s**i, with one coefficient per row of s."""
    value = np.zeros_like(s)
    for coefficient in reversed(coefficients):
        value = value * s + coefficient[:, None]
    return value


@_quiet
def root_quadratic_integral(a, b, c, s) -> np.ndarray:
    """The integral of sqrt(a + 2*b*x + c*x^2) over x from 0 to ``s``, elementwise.

    The quadratic is |u(x)|^2 for u linear in x, so it is never negative. Near its least
    value the root has a kink-like bend that no fixed quadrature resolves, so there the
    integral comes from the antiderivative; elsewhere, where the root is smooth (and the
    antiderivative would cancel), from Gauss-Legendre.
    """
    a, b, c, s = np.broadcast_arrays(*(np.asarray(v, dtype=float) for v in (a, b, c, s)))
    x = s[..., None] * GAUSS_X
    roots = np.sqrt(np.maximum(a[..., None] + x * (2.0 * b[..., None] + c[..., None] * x), 0.0))
    gauss = (roots @ GAUSS_W) * s
    shift = b / c  # the least value lies at x = -shift
    near = (c > 0.0) & (np.abs(shift) <= _CLOSED_FORM_REACH)
    squared_height = np.maximum(a / c - shift * shift, 0.0)
    height = np.sqrt(squared_height)

    def antiderivative(y):
        bend = np.where(squared_height > 0.0, squared_height * np.arcsinh(y / height), 0.0)
        return y * np.sqrt(y * y + squared_height) + bend

    closed = np.sqrt(c) / 2.0 * (antiderivative(s + shift) - antiderivative(shift))
    return np.where(near, closed, gauss)

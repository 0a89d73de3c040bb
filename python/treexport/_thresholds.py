"""Split thresholds that make a comparison of doubles agree with scikit-learn's float32 one.

scikit-learn casts every input to float32 (round to nearest, ties to even) and then compares
``x32 <= thr``, where ``thr`` is a double (the midpoint of two float32 values). A document
compares the input double ``d`` with its threshold directly. For every ``thr`` there is one
double ``t`` with ``d <= t`` exactly when ``float32(d) <= thr``:

1. ``F`` is the largest float32 not above ``thr``; ``x32 <= thr`` is ``x32 <= F``, since ``x32``
   is a float32 itself.
2. ``G`` is the next float32 above ``F`` (for the largest finite float32, the value 2**128 that
   the cast rounds to infinity from). ``float32(d) <= F`` holds for every ``d`` below the midpoint
   ``m = (F + G) / 2`` and fails for every ``d`` above it; ``m`` is exact in double, as float32
   significands have 24 bits and doubles 53.
3. ``d == m`` is a tie: it rounds to whichever of ``F`` and ``G`` has an even significand. So
   ``t = m`` when ``F``'s significand is even, and the double just below ``m`` otherwise.
"""

import numpy as np

_FLOAT32_MAX = float(np.finfo(np.float32).max)


def float32_thresholds(thresholds):
    """The double thresholds ``t`` with ``d <= t`` exactly when ``float32(d) <= thr``.

    ``thresholds`` is an array of finite doubles as a fitted tree keeps them; the result has the
    same shape, dtype float64.
    """
    thr = np.asarray(thresholds, dtype=np.float64)
    with np.errstate(over="ignore", invalid="ignore"):
        f = thr.astype(np.float32)
        # The cast rounds to nearest: step down where it went above thr (or overflowed).
        above = f.astype(np.float64) > thr
        f[above] = np.nextafter(f[above], np.float32(-np.inf))
        g = np.nextafter(f, np.float32(np.inf)).astype(np.float64)
    g[f.astype(np.float64) == _FLOAT32_MAX] = 2.0 ** 128
    mid = (f.astype(np.float64) + g) / 2.0
    even = (f.view(np.uint32) & np.uint32(1)) == 0
    return np.where(even, mid, np.nextafter(mid, -np.inf))

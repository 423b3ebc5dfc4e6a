"""Wall-clock timing shared by the Python benchmarks."""

import time


def batch_size(fn, seconds):
    """How many calls of fn last about `seconds`, from doubling batches until one lasts a quarter
    of that."""
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            fn()
        elapsed = time.perf_counter() - start
        if elapsed >= seconds / 4 or n >= 1 << 20:
            return max(1, int(n * seconds / max(elapsed, 1e-9)))
        n *= 2


def timed(fn, n):
    """Seconds per call over one batch of n calls."""
    start = time.perf_counter()
    for _ in range(n):
        fn()
    return (time.perf_counter() - start) / n


def per_call(fn, min_time, repeats):
    """Seconds per call: the best of `repeats` batches, each of enough calls to last min_time."""
    n = batch_size(fn, min_time)
    return min(timed(fn, n) for _ in range(repeats))

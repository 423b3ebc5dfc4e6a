"""Arguments whose conversion reaches the module again while the call that reads them holds its
borrows, for the tests of borrowing."""


def named(error):
    """An error as its type's name and its text."""
    return f"{type(error).__name__}: {error}"


def record(calls, seen, errors=RuntimeError, describe=str):
    """Runs each of `calls` and appends to `seen` what it returned, or the error it raised (one of
    `errors`) as `describe` writes it."""
    for call in calls:
        try:
            seen.append(call())
        except errors as e:
            seen.append(describe(e))


class ReentrantCaps:
    """A sequence of one capability, "cap", whose conversion first runs each of `calls` and appends
    to `seen` what it returned, or the error it raised (one of `errors`) as `describe` writes it.
    Each conversion runs the calls again."""

    def __init__(self, calls, seen, errors=RuntimeError, describe=str):
        self.calls, self.seen, self.errors, self.describe = calls, seen, errors, describe

    def __len__(self):
        return 1

    def __getitem__(self, i):
        if i > 0:
            raise IndexError
        record(self.calls, self.seen, self.errors, self.describe)
        return "cap"

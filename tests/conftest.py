"""The `served` fixture: servers with their client processes and captured
output (see support.Served), ended after the test."""

import contextlib

import pytest

from support import Served


@pytest.fixture
def served():
    """Makes Served objects inside the test body (pytest puts its own
    output capture back between fixture setup and the test) and ends them
    after it, the last made first."""
    made = []

    def make(*steps, **options):
        made.append(Served(*steps, **options))
        return made[-1]

    with contextlib.ExitStack() as ends:
        yield make
        for s in made:
            ends.callback(s.end)

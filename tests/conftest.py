"""The harness shared by the tests that serve a real client: a server on a
free port, a client process running scripted steps, and what the process
writes meanwhile."""

import contextlib

import pytest

from vantu_protocol import ComSocketServer
from support import Output, finish, free_port, start_peer


class Served:
    """A server whose client runs `steps`. `connect` is "open" or "accept"
    (or None to leave the connecting to the test); `settings` are server
    attributes set first, such as cycle=0."""

    def __init__(self, steps, actions, connect, serve, settings):
        self.output = Output()
        self.port = free_port()
        self.server = ComSocketServer(f"127.0.0.1:{self.port}")
        for name, value in settings.items():
            setattr(self.server, name, value)
        for key, action in actions.items():
            widget, _, id = key.rpartition("_")
            self.server.on(int(id), widget, action)
        self.peer = start_peer(self.port, *steps)
        if connect:
            getattr(self.server, connect)()
        if serve:
            self.server.serve()

    def lines(self):
        return self.output.lines()

    def stop(self):
        """close(), then the loop's last line and the client's output."""
        self.server.close()
        self.output.wait_line("Terminating.")
        return finish(self.peer)

    def end(self):
        with contextlib.suppress(RuntimeError):
            self.server.close()
        self.output.restore()
        if self.peer.poll() is None:
            self.peer.kill()
            self.peer.wait()


@pytest.fixture
def served():
    """Makes Served objects inside the test body (pytest puts its own
    output capture back between fixture setup and the test) and ends them
    after it."""
    made = []

    def make(*steps, actions=None, connect="open", serve=True, **settings):
        made.append(Served(steps, actions or {}, connect, serve, settings))
        return made[-1]

    yield make
    for s in reversed(made):
        s.end()

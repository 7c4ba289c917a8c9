"""The interpreter exits while a serve loop runs: the process must end
normally, with its own exit status, whatever the loop is doing."""

import textwrap

import pytest

from support import free_port, python_script

SCRIPT = textwrap.dedent("""
    import subprocess, sys, time
    from vantu_protocol import ComSocketServer
    port, phase = sys.argv[1], sys.argv[2]
    frame = bytes.fromhex("9201 81 ab 436c69636b427574746f6e 90".replace(" ", ""))
    steps = {{"sleeping": ["sleep:5"], "waiting": ["sleep:5"],
              "acting": ["send:" + frame.hex(), "sleep:5"]}}[phase]
    peer = subprocess.Popen([sys.executable, {peer!r}, port, *steps], stdout=subprocess.DEVNULL)
    server = ComSocketServer("127.0.0.1:" + port)
    server.on(1, "ClickButton", lambda e: time.sleep(0.3))
    server.open()
    server.serve()
    time.sleep({{"sleeping": 0.1, "waiting": 0.8, "acting": 0.7}}[phase])
    peer.kill()
    sys.exit(7)
""")


@pytest.mark.parametrize("phase", ["sleeping", "waiting", "acting"])
def test_exit_while_serving(phase):
    from support import HERE
    code = SCRIPT.format(peer=str(HERE / "peer.py"))
    for _ in range(5):
        result = python_script(code.replace("sys.argv[1], sys.argv[2]", f"'{free_port()}', '{phase}'"))
        assert result.returncode == 7, result.stderr
        assert "terminate" not in result.stderr and "Fatal Python error" not in result.stderr

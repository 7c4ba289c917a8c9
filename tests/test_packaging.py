"""The wheel: built once with pip, installed into a fresh virtual environment,
imported, run, and type-checked with the stubs it ships."""

import email.parser
import os
import re
import subprocess
import sys
import sysconfig
import venv
import zipfile

import pytest

pytestmark = pytest.mark.once

from support import HERE

ROOT = HERE.parent
# Nothing from the caller's environment may lead the fresh one back to a build tree.
CLEAN_ENV = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME", "MYPYPATH")}


@pytest.fixture(scope="module")
def built(tmp_path_factory):
    """(wheel path, pip's verbose build output) for one build of the source tree."""
    dist = tmp_path_factory.mktemp("dist")
    build = subprocess.run([sys.executable, "-m", "pip", "wheel", str(ROOT), "-w", str(dist), "--no-deps", "-v"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=900)
    assert build.returncode == 0, build.stdout[-5000:]
    [wheel] = dist.glob("vantu_protocol-*.whl")
    return wheel, build.stdout


@pytest.fixture(scope="module")
def python(built, tmp_path_factory):
    """The interpreter of a fresh virtual environment with only the wheel installed."""
    env = tmp_path_factory.mktemp("venv")
    venv.create(env, with_pip=True)
    bin_python = env / "bin" / "python"
    subprocess.run([bin_python, "-m", "pip", "install", "-q", "--no-index", str(built[0])],
                   check=True, capture_output=True, timeout=300, env=CLEAN_ENV)
    return bin_python


def test_cpp_build_has_no_warnings(built):
    compiling = built[1].split("*** Configuring CMake", 1)[1].split("*** Making wheel", 1)[0]
    assert "Linking CXX shared module" in compiling
    assert not re.search(r"warning", compiling, re.IGNORECASE), compiling


def test_wheel_contents_and_metadata(built):
    with zipfile.ZipFile(built[0]) as wheel:
        names = wheel.namelist()
        [metadata] = [n for n in names if n.endswith(".dist-info/METADATA")]
        meta = email.parser.Parser().parsestr(wheel.read(metadata).decode())
    # One module on the stable ABI serves 3.11 and later; a free-threaded
    # Python, which has no stable ABI, builds for its own version.
    suffix = sysconfig.get_config_var("EXT_SUFFIX") if sysconfig.get_config_var("Py_GIL_DISABLED") else ".abi3.so"
    assert sorted(n for n in names if ".dist-info/" not in n) == [
        "vantu_protocol-stubs/__init__.pyi", "vantu_protocol" + suffix]
    assert built[0].name.endswith(("-cp311-abi3-linux_x86_64.whl", "-linux_x86_64.whl"))
    assert (meta["Name"], meta["Version"]) == ("vantu_protocol", "0.1.0")
    # No upper bound: the stable-ABI wheel serves later versions too.
    assert meta["Requires-Python"] == ">=3.11"
    assert meta["Description-Content-Type"] == "text/markdown" and "## Quick start" in meta.get_payload()
    tested = {f"Programming Language :: Python :: 3.{minor}" for minor in (11, 12, 13, 14, 15)}
    assert {"Typing :: Typed", *tested} <= set(meta.get_all("Classifier"))


def test_installed_module_serves_a_client(python, tmp_path):
    # The demo plays a whole round trip; run outside the source tree so only
    # the installed module can be imported.
    demo = subprocess.run([python, ROOT / "examples" / "demo.py"], capture_output=True, text=True,
                          timeout=120, cwd=tmp_path, env=CLEAN_ENV)
    assert demo.returncode == 0, demo.stdout + demo.stderr
    assert "client: reply to 6: Idle, ConfirmResult(True)" in demo.stdout
    where = subprocess.run([python, "-c", "import vantu_protocol; print(vantu_protocol.__file__)"],
                           capture_output=True, text=True, check=True, cwd=tmp_path, env=CLEAN_ENV)
    assert where.stdout.startswith(str(python.parent.parent))


@pytest.mark.parametrize("code, expected", [
    ("from vantu_protocol import WidgetRegistry\n"
     "def f(j: WidgetRegistry.Joystick) -> None:\n    reveal_type(j.delta.x)\n",
     r'Revealed type is "(builtins\.)?float"'),
    ("from vantu_protocol import ServerStatus\nServerStatus.Idle < ServerStatus.Busy\n",
     r'Unsupported left operand type for < \("ServerStatus"\)'),
])
def test_mypy_finds_the_installed_stubs(python, tmp_path, code, expected):
    source = tmp_path / "use.py"
    source.write_text(code)
    check = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                            "--python-executable", str(python), str(source)],
                           capture_output=True, text=True, timeout=300, cwd=tmp_path, env=CLEAN_ENV)
    assert "Found 1 error" in check.stdout or "Success" in check.stdout, check.stdout
    assert re.search(expected, check.stdout), check.stdout

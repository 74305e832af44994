"""Runs scripts that use the binding inside qrt-sim, the way the C++ end-to-end tests run their
probes: each run gets a fresh rig, the script's emitted values, and the rig's state document,
which must count no protocol violation.

ctest (test python.binding) sets QRT_SIM, QRT_SDK_LIBRARY and PYTHONPATH to the build tree.
"""

import json
import os
import pathlib
import subprocess
import sys
import textwrap
from dataclasses import dataclass, field
from typing import Any, Dict, List

import pytest

# What every script starts with: the binding, and helpers that report results as JSON lines.
PRELUDE = '''
import json, os, subprocess, sys
import qrt

PARAMS = json.loads(os.environ["QRT_TEST_PARAMS"])


def emit(**values):
    print(json.dumps(values), flush=True)


def by_model(model):
    return next(p for p in qrt.products() if p.model == model)


def outcome(action):
    """{"value": what action returned} or {"error": [exception class, status code]} (code
    None for a TypeError the binding raises before calling the SDK)."""
    try:
        return {"value": action()}
    except qrt.QrtError as error:
        return {"error": [type(error).__name__, int(error.code)]}
    except TypeError as error:
        return {"error": [type(error).__name__, None]}


def drive(line):
    """One line to the rig's control channel (an input level of the embedded system ...)."""
    subprocess.run([os.environ["QRT_SIM"], "--control", line], check=True,
                   capture_output=True)
'''


@dataclass
class RigRun:
    status: int
    output: str
    errors: str
    trace: str
    state: Dict[str, Any]
    values: Dict[str, Any] = field(default_factory=dict)

    def board(self, section: str) -> Dict[str, Any]:
        return next(b for b in self.state.get("boards", []) if b.get("section") == section)


class Rig:
    def __init__(self, directory: pathlib.Path) -> None:
        self.directory = directory

    def run(self, rig: str, script: str, *, expect_status: int = 0,
            provokes_violations: bool = False, **params: Any) -> RigRun:
        """Runs the script under qrt-sim with the rig text (the built-in rig when empty);
        ``params`` reach the script as PARAMS."""
        d = self.directory
        (d / "test.rig").write_text(rig)
        (d / "script.py").write_text(PRELUDE + textwrap.dedent(script))
        state = d / "state.json"
        if state.exists():
            state.unlink()
        command = [os.environ["QRT_SIM"], "--skip-pauses", "--state", str(state),
                   "--trace", str(d / "trace")]
        if rig:
            command += ["--rig", str(d / "test.rig")]
        command += ["--", sys.executable, str(d / "script.py")]
        environment = dict(os.environ, QRT_TEST_PARAMS=json.dumps(params))
        done = subprocess.run(command, capture_output=True, text=True, env=environment,
                              timeout=300)
        run = RigRun(done.returncode, done.stdout, done.stderr, (d / "trace").read_text(),
                     json.loads(state.read_text()) if state.exists() else {})
        for line in done.stdout.splitlines():
            if line.startswith("{"):
                run.values.update(json.loads(line))
        assert run.status == expect_status, run.errors
        if not provokes_violations:
            violations = [t for t in run.trace.splitlines() if " violation " in t]
            assert run.state.get("violations") == 0, "\n".join(violations)
        return run


@pytest.fixture(scope="session")
def rig(tmp_path_factory: pytest.TempPathFactory) -> Rig:
    if not os.environ.get("QRT_SIM"):
        pytest.skip("QRT_SIM is not set: run these through ctest (python.binding)")
    runner = Rig(tmp_path_factory.mktemp("rig"))
    probe = subprocess.run([os.environ["QRT_SIM"], "--", "true"], capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip(f"qrt-sim cannot run a program here: {probe.stderr}")
    return runner


def port_states(values: List[Any]) -> List[int]:
    return [int(bool(v)) for v in values]

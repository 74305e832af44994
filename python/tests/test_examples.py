"""Every example runs to its end on a rig with its family, and breaks no chip's protocol."""

import pathlib

import pytest

from test_cards import RIG as CARDS
from test_embedded import RIG as EMBEDDED

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"


@pytest.mark.parametrize("example, rig_text, args, shows", [
    ("list_products.py", CARDS, [], "4: PCIe-RHX44+ (RHX44PLUS) serial None card id None"),
    ("usb3_ports.py", CARDS, [], "all on again: [True, True, True, True, True, True, True, True]"),
    ("poe_ports.py", CARDS, [], "port 0 (on, class, V, A, good): (True, 4,"),
    ("toe_action.py", CARDS, [], "sent ActionCommand(device_key=305419896"),
    ("fans.py", CARDS, [], "at 80 %: 4800 rpm"),
    ("poe_ports.py", EMBEDDED, [], "TULAN-KQX: 4 PoE ports"),
    ("dio_monitor.py", EMBEDDED, ["0.1"], "4 inputs [0, 1, 0, 0], 4 outputs"),
], ids=lambda value: value if isinstance(value, str) and value.endswith(".py") else "")
def test_example_runs(rig, example, rig_text, args, shows):
    run = rig.run(rig_text, f"""
sys.argv = [{example!r}, *{args!r}]
import runpy
runpy.run_path({str(EXAMPLES / example)!r}, run_name="__main__")
""")
    assert shows in run.output

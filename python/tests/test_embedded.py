"""The binding on the embedded vision system: its digital I/O against the rig's sysfs files, and
the input trigger callback fed by input changes the rig drives."""

import pytest

RIG = """
[system]
model = TULAN-KQX
sn = KQX0001
di_levels = 0,1,0,0
poe_class0 = 2
"""

SCRIPT = """
import threading, time
dio = qrt.products()[0].dio
Edge = qrt.Edge
emit(product=[qrt.products()[0].model, qrt.product_count(), dio.input_count, dio.output_count],
     inputs_before=dio.input_states)

dio.output_states = [1, 0, 1, 1]
dio.outputs[1].state = 1
dio.outputs[3].state = 0
dio.inputs[0].edge = Edge.EDGE0     # rising edges only, on this driver
dio.inputs[1].edge = Edge.EDGE1     # falling edges only
emit(outputs=dio.output_states, edges=[i.edge.name for i in dio.inputs])

# The callback on the monitor thread, fed by input changes the rig drives.
got, errors, hooked = [], [], []
arrived = threading.Semaphore(0)
threading.excepthook = lambda args: (hooked.append(repr(args.exc_value)), arrived.release())


def collect(di, state):
    got.append((di, state, threading.current_thread() is threading.main_thread()))
    arrived.release()


def fail(di, state):
    arrived.release()
    raise ValueError(f"input {di}")


def meddle(di, state):
    dio.set_callback(None)   # not from the monitor thread: RuntimeError, reported


def step(line, expect=1):
    drive(line)
    return all(arrived.acquire(timeout=10) for _ in range(expect))


dio.set_callback(collect)
steps = [step("system di 0 1"), step("system di 0 0", 0), step("system di 1 0")]
dio.set_callback(fail, on_error=lambda e: errors.append(repr(e)))
steps.append(step("system di 2 1", 1))
dio.set_callback(fail)
steps.append(step("system di 2 0", 2))
dio.set_callback(meddle)
steps.append(step("system di 3 1"))
dio.set_callback(None)
drive("system di 3 0")
time.sleep(0.5)
emit(steps=steps, got=got, errors=errors, hooked=hooked,
     threads_after_stop=len(os.listdir("/proc/self/task")))

with dio.monitor() as monitor:
    drive("system di 2 1")
    first = monitor.get(timeout=10)
emit(queued=list(first), threads_after_monitor=len(os.listdir("/proc/self/task")))

outcomes = {
    "input beyond the count": outcome(lambda: qrt.DigitalInput(dio, 9).state),
    "output beyond the sequence": outcome(lambda: dio.outputs[4]),
    "edge out of range": outcome(lambda: setattr(dio.inputs[0], "edge", 7)),
    "missing ToE": outcome(lambda: qrt.products()[0].component(qrt.Feature.TOE).port_count),
}
emit(outcomes=outcomes)

for i in range(1000):
    dio.input_states, dio.outputs[0].state
    dio.outputs[2].state = i % 2

# Exiting with a monitor registered: the binding stops it before the interpreter goes.
dio.set_callback(collect)
"""


@pytest.fixture(scope="module")
def run(rig):
    return rig.run(RIG, SCRIPT)


def test_dio_round_trips(run):
    v, dio = run.values, run.board("system")["dio"]
    assert v["product"] == ["TULAN-KQX", 1, 4, 4]
    assert v["inputs_before"] == [0, 1, 0, 0]
    assert v["outputs"] == [o["level"] for o in dio["outputs"]][:2] + [1, 0]
    assert [o["level"] for o in dio["outputs"]] == [1, 1, 1, 0]  # output 2 toggled 1000 times
    assert v["edges"] == ["EDGE0", "EDGE1", "BOTH", "BOTH"]
    assert [i["trigger_mode"] for i in dio["inputs"]] == [1, 0, 2, 2]


def test_callback_receives_driven_inputs_and_stops(run):
    v = run.values
    assert v["steps"] == [True] * 6
    # Rising on input 0, its falling edge not selected, falling on input 1; never on the
    # main thread.
    assert v["got"] == [[0, 1, False], [1, 0, False]]
    assert v["errors"] == ["ValueError('input 2')"]
    assert v["hooked"] == ["ValueError('input 2')", "RuntimeError('the DI trigger callback "
                           "cannot be changed or stopped from within the callback')"]
    assert v["threads_after_stop"] == v["threads_after_monitor"] == 1
    assert v["queued"] == [2, 1]
    assert run.board("system")["dio"]["uevents"] == 7


def test_dio_status_codes(run):
    assert run.values["outcomes"] == {
        "input beyond the count": {"error": ["QrtInvalidParamError", -11]},
        "output beyond the sequence": {"error": ["QrtIndexError", -11]},
        "edge out of range": {"error": ["QrtInvalidParamError", -11]},
        "missing ToE": {"error": ["QrtNotSupportedError", -5]},
    }

"""The binding on a rig with a card of every PCIe family: listing, each component's round trip
against the rig's state, the status codes the calls raise, and many calls in a row."""

import os

import pytest

from conftest import port_states

RIG = """
[a-usb]
model = PCIe-W508P
sn = W5B0042
ex_power = 1

[b-poe]
model = PCIe-RHX54PPRO
sn = RHX0007
card_id = 3
mac0 = 02:4b:51:00:01:00
ip0 = 192.168.10.1/24
poe_class0 = 4

[c-gpu]
model = PCIe-RHXGPU-P1000
sn = GPU0001

[d-10t]
model = PCIe-RHX10T
sn = TEN0001
card_id = 200
poe_class1 = 3

[e-44]
model = PCIe-RHX44+
"""

SCRIPT = """
import ctypes, resource
F = qrt.Feature
COMPONENTS = ("power", "poe", "toe", "dio", "exsupply", "fan")

emit(products=[dict(model=p.model, type=p.type.name, serial=p.serial, card_id=p.card_id,
                    features=[f.name for f in p.features],
                    present=[c for c in COMPONENTS if getattr(p, c) is not None])
               for p in qrt.products()])

usb, pro, gpu, ten, plus = (by_model(m) for m in PARAMS["models"])

# Round trips: write, read back through the SDK; the test compares with the rig's state.
usb.power.enabled = [1, 0] * 4
usb.power.ports[7].enabled = 1
for p in (pro, gpu, ten):
    n = p.poe.port_count
    p.poe.enabled = [i % 2 == 0 for i in range(n)]
    if n > 2:
        p.poe.ports[n - 1].enabled = True
plus.poe.enabled = [1, 0, 1, 1]  # its power chip's switches cannot be read back
pro.poe.protect_temperatures_c = (95, 80)
pro.poe.power_calc_mode = 1
toe = pro.toe
toe.trigger_enabled, toe.one_trigger_all, toe.trigger_source = True, True, 1
toe.ex_trigger_debounce = 0x123456
toe.ports[0].action_command = qrt.ActionCommand(0x11223344, 0x55667788, 0xFFFF0000)
toe.ports[0].send()
gpu.fan.fans[0].pwm_percent = 80
gpu.fan.fans[0].smart = True
port0 = pro.poe.ports[0]
emit(read=dict(
    power=usb.power.enabled, exsupply=usb.exsupply.states,
    poe={p.model: p.poe.enabled for p in (pro, gpu, ten)},
    protect=list(pro.poe.protect_temperatures_c), calc_mode=pro.poe.power_calc_mode,
    toe=[toe.trigger_enabled, toe.one_trigger_all, toe.trigger_source, toe.ex_trigger_debounce],
    action=list(toe.ports[0].action_command),
    fan=[gpu.fan.fans[0].pwm_percent, gpu.fan.fans[0].smart, gpu.fan.fans[0].speed_rpm],
    budget=[pro.poe.temperature_c, pro.poe.total_budget_w, pro.poe.consumed_budget_w],
    port0=[port0.power_class, port0.power_good, port0.voltage_v > 40, port0.current_a > 0]))

# Status codes, the SDK's and the binding's own checks alike.
cases = {
    "port beyond the sequence": lambda: pro.poe.ports[4],
    "port beyond the SDK's count": lambda: qrt.PoEPort(pro.poe, 9).current_a,
    "list of the wrong length": lambda: setattr(usb.power, "enabled", [1, 0]),
    "protect below recover": lambda: setattr(pro.poe, "protect_temperatures_c", (75, 80)),
    "action command on no port": lambda: toe.send(7),
    "fan beyond the count": lambda: qrt.Fan(gpu.fan, 5).speed_rpm,
    "missing component": lambda: pro.component(F.FAN).count,
    "missing ToE": lambda: usb.component(F.TOE).port_count,
    "product beyond the list": lambda: qrt.product(99),
    "value beyond the C type": lambda: setattr(pro.poe, "power_calc_mode", 2**40),
    "missing fan attribute": lambda: pro.fan,
    "card without serial": lambda: plus.serial,
    "switches not readable": lambda: plus.poe.enabled,
    # Refused before the call: the round trips' values above stay on the cards.
    "33-bit action-command key": lambda: setattr(toe.ports[0], "action_command",
                                                 (2**32, 0, 0)),
    "float debounce": lambda: setattr(toe, "ex_trigger_debounce", 2.7),
    "text as port states": lambda: setattr(pro.poe, "enabled", "0000"),
    "port state 2": lambda: setattr(pro.poe, "enabled", [2, 0, 2, 2]),
}
emit(errors={name: outcome(action) for name, action in cases.items()})

# Many calls in a row: no crash, no growth of the process.
def rss_kib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss

def calls(i):
    usb.power.ports[1].enabled, pro.type, qrt.products()
    outcome(lambda: qrt.PoEPort(pro.poe, 9).current_a)
    if i % 20 == 0:  # a slower round trip through the card's microcontroller
        pro.poe.enabled

for i in range(100):
    calls(i)
before = rss_kib()
for i in range(1000):
    calls(i)
emit(rss_growth_kib=rss_kib() - before)
"""

MODELS = ["PCIe-W508P", "PCIe-RHX54PPRO", "PCIe-RHXGPU-P1000", "PCIe-RHX10T", "PCIe-RHX44+"]


@pytest.fixture(scope="module")
def run(rig):
    return rig.run(RIG, SCRIPT, models=MODELS)


def test_listing(run):
    listed = {p["model"]: p for p in run.values["products"]}
    assert list(listed) == MODELS
    expected = {  # model: (type, serial, card id, features)
        "PCIe-W508P": ("W508P", "W5B0042", 1, ["POWER_CONTROLLER", "EX_POWER_SUPPLY"]),
        "PCIe-RHX54PPRO": ("RHX54PPRO", "RHX0007", 3, ["POE", "TOE", "EX_POWER_SUPPLY"]),
        "PCIe-RHXGPU-P1000": ("RHXGPU_P1000", "GPU0001", 0,
                              ["POE", "TOE", "EX_POWER_SUPPLY", "FAN"]),
        "PCIe-RHX10T": ("RHX10T", "TEN0001", 200, ["POE", "TOE", "EX_POWER_SUPPLY"]),
        "PCIe-RHX44+": ("RHX44PLUS", None, None, ["POE", "EX_POWER_SUPPLY"]),
    }
    names = {"POWER_CONTROLLER": "power", "POE": "poe", "TOE": "toe", "DIO": "dio",
             "EX_POWER_SUPPLY": "exsupply", "FAN": "fan"}
    for model, (kind, serial, card_id, features) in expected.items():
        p = listed[model]
        assert (p["type"], p["serial"], p["card_id"], p["features"]) == \
            (kind, serial, card_id, features), model
        assert sorted(p["present"]) == sorted(names[f] for f in features), model


def test_round_trips_reach_the_hardware(run):
    read = run.values["read"]
    usb, pro, gpu, ten, plus = (run.board(s) for s in ("a-usb", "b-poe", "c-gpu", "d-10t", "e-44"))
    assert port_states(read["power"]) == usb["port_power"] == [1, 0, 1, 0, 1, 0, 1, 1]
    assert read["exsupply"] == [usb["external_supply"]["connected"]] == [True]

    four, two = [1, 0, 1, 1], [1, 0]
    assert {m: port_states(v) for m, v in read["poe"].items()} == {
        "PCIe-RHX54PPRO": four, "PCIe-RHXGPU-P1000": four, "PCIe-RHX10T": two}
    for board in (pro, gpu):
        assert [int(p["enabled"]) for p in board["mcu"]["ports"]] == four
    # The PCIe-RHX10T numbers its public ports the other way round from the power chip's.
    assert [int(p["enabled"]) for p in ten["mcu"]["ports"][:2]][::-1] == two
    assert [plus["power_chip"]["port_mask"] >> i & 1 for i in range(4)] == four

    mcu = pro["mcu"]
    assert read["protect"] == [mcu["protect_temperature"], mcu["recovery_temperature"]] == \
        [95, 80]
    assert read["calc_mode"] == mcu["power_budget_control"] == 1
    control = pro["cpld"]["toe_control"]
    assert read["toe"] == [control["trigger_enable"], control["one_trigger_all"],
                           int(control["trigger_source"]), control["ex_trigger_debounce"]] == \
        [True, True, 1, 0x123456]
    assert read["action"] == [0x11223344, 0x55667788, 0xFFFF0000]
    sent = pro["cpld"]["ports"][0]
    assert sent["sent_count"] == 1 and "11223344" in sent["packet"]
    fan = gpu["mcu"]["fan"]
    assert read["fan"] == [fan["duty"], fan["smart"], fan["rpm"]]
    assert read["fan"][:2] == [80, True]
    assert read["budget"] == [mcu["temperature"], mcu["total_budget_w"],
                              mcu["consumed_budget_w"]]
    assert read["port0"] == [4, True, True, True]


ERRORS = {  # case: the exception and the status it carries, or the value returned
    "port beyond the sequence": ("QrtIndexError", -11),
    "port beyond the SDK's count": ("QrtInvalidParamError", -11),
    "list of the wrong length": ("QrtInvalidParamError", -11),
    "protect below recover": ("QrtInvalidParamError", -11),
    "action command on no port": ("QrtInvalidParamError", -11),
    "fan beyond the count": ("QrtInvalidParamError", -11),
    "missing component": ("QrtNotSupportedError", -5),
    "missing ToE": ("QrtNotSupportedError", -5),
    "product beyond the list": ("QrtIndexError", -11),
    "value beyond the C type": ("QrtInvalidParamError", -11),
    "missing fan attribute": None,
    "card without serial": None,
    "switches not readable": ("QrtNotSupportedError", -5),
    "33-bit action-command key": ("QrtInvalidParamError", -11),
    "float debounce": ("TypeError", None),
    "text as port states": ("TypeError", None),
    "port state 2": ("QrtInvalidParamError", -11),
}


def test_status_codes_raise_their_exceptions(run):
    got = run.values["errors"]
    assert {k: tuple(v["error"]) if "error" in v else v["value"] for k, v in got.items()} == \
        ERRORS


def test_many_calls_neither_crash_nor_grow(run):
    if os.environ.get("QRT_TEST_SANITIZED"):  # freed memory waits in quarantine there
        pytest.skip("the process's growth means nothing under AddressSanitizer")
    assert run.values["rss_growth_kib"] < 2048


THREAD_SCRIPT = """
import threading
loaded = []
# The library's initialiser, with detection and its workers, runs on this thread, under the
# dynamic loader's lock.
thread = threading.Thread(target=lambda: loaded.append([p.model for p in qrt.products()]),
                          daemon=True)
thread.start()
thread.join(60)
emit(models=loaded[0] if loaded else None)
"""


def test_loading_the_library_from_a_second_thread_finds_every_card(rig):
    assert rig.run(RIG, THREAD_SCRIPT).values["models"] == MODELS

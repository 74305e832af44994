"""The port power controller, the external power supplies, PoE, trigger over Ethernet and the
fans. Digital I/O is in :mod:`qrt.dio`.

Port states are lists with one entry per port, in the SDK's port numbering; writing a list
passes exactly the entries given: a PoE card switches the ports the list covers and leaves the
others as they are, a USB3 card refuses a list shorter than its ports with
:class:`qrt.QrtInvalidParamError`. A single port's state is read and written through
``component.ports[i]``, which reads the whole list and writes it back with one entry changed.
"""

from __future__ import annotations

import ctypes
from typing import Any, Callable, Generic, List, NamedTuple, Tuple, Type, TypeVar

from ._api import Edge, Feature, PoEPortProperty, PoEProperty
from ._component import Component, Part, Parts, integer, integer_list, setting, switch_state
from .errors import QrtInvalidParamError


def _float32(value: float) -> float:
    """A float the SDK reported, as the shortest decimal that is the same float32 (61.6 rather
    than 61.599998474121094)."""
    for digits in range(6, 10):
        shortest = float(f"{value:.{digits}g}")
        if ctypes.c_float(shortest).value == value:
            return shortest
    return value


P = TypeVar("P", bound="SwitchedPort")


def _measured(which: Any, doc: str, kind: Callable[[float], Any] = float) -> Any:
    """A read-only value of ``read_property(which)``, converted by ``kind``."""
    return property(lambda self: kind(self.read_property(which)), doc=doc)


class _PortSwitches(Component, Generic[P]):
    """A component whose ports are switched on and off together, as one list."""

    _count_function: str
    _get_function: str
    _set_function: str
    _port: Type[P]
    _noun: str

    @property
    def ports(self) -> Parts[P]:
        """The ports, each with its switch."""
        return Parts(lambda: self.port_count, lambda i: self._port(self, i), self._noun)

    @property
    def port_count(self) -> int:
        """Number of ports."""
        return self._read(self._count_function, ctypes.c_uint)

    @property
    def enabled(self) -> List[bool]:
        """Every port's switch, True when on. Assign a list (of bools or 0/1) to switch them."""
        return [bool(v) for v in self._read_array(self._get_function, ctypes.c_int,
                                                  self.port_count)]

    @enabled.setter
    def enabled(self, states: List[int]) -> None:
        # Checked whole before the call: a text, or a state that is no switch, reaches no port.
        what = f"{self._where}: {self._set_function}"
        self._write_array(self._set_function, ctypes.c_int,
                          [switch_state(s, what) for s in integer_list(states, what)])

    def _set_one(self, port: int, on: bool) -> None:
        state = switch_state(on, f"{self._where}: {self._noun} {port}")
        states = self.enabled
        states[port] = bool(state)
        self.enabled = states


class SwitchedPort(Part):
    """One port of a switched component."""

    component: "_PortSwitches"

    @property
    def enabled(self) -> bool:
        """The port's switch (reads every port; writing writes them all back)."""
        return self.component.enabled[self.index]

    @enabled.setter
    def enabled(self, on: bool) -> None:
        self.component._set_one(self.index, on)


class PowerController(_PortSwitches[SwitchedPort]):
    """USB port power of the USB3 cards (feature 1)."""

    feature = Feature.POWER_CONTROLLER
    _count_function = "QRT_PowCtrlGetPortNums"
    _get_function = "QRT_PowCtrlGetPortEnable"
    _set_function = "QRT_PowCtrlSetPortEnable"
    _port = SwitchedPort
    _noun = "USB port"


class ExternalPowerSupply(Component):
    """External power supply inputs (feature 5)."""

    feature = Feature.EX_POWER_SUPPLY

    count = setting("QRT_ExPowSupGetNums", ctype=ctypes.c_uint, doc="Number of supply inputs.")

    @property
    def states(self) -> List[bool]:
        """Each input's state, True when a supply is connected."""
        return [bool(v) for v in self._read_array("QRT_ExPowSupGetState", ctypes.c_int,
                                                  self.count)]


class ProtectTemperatures(NamedTuple):
    """The PoE protection range in degrees Celsius: the ports switch off above
    ``protect_c`` and on again below ``recover_c``."""

    protect_c: int
    recover_c: int


class PoEPort(SwitchedPort):
    """One PoE port: its switch and the power-sourcing chip's measurements."""

    component: "PoE"

    def read_property(self, which: PoEPortProperty) -> float:
        """A per-port property (:class:`qrt.PoEPortProperty`) as the SDK reports it."""
        return _float32(self._read("QRT_PoEGetPortProperty", ctypes.c_float, int(which)))

    current_a = _measured(PoEPortProperty.CURRENT, "Output current in amperes.")
    voltage_v = _measured(PoEPortProperty.VOLTAGE, "Output voltage in volts.")
    power_class = _measured(PoEPortProperty.POWER_CLASS,
                            "Detected power class; -1 when the chip reports none, -2 when "
                            "nothing is detected.", int)
    power_good = _measured(PoEPortProperty.POWER_GOOD, "True when the port's power is good.",
                           bool)
    last_state = _measured(PoEPortProperty.LAST_STATE, "The port's last state code.", int)

    @property
    def power_w(self) -> float:
        """Output power in watts (voltage times current)."""
        return self.voltage_v * self.current_a


class PoE(_PortSwitches[PoEPort]):
    """Power over Ethernet (feature 2): port switches, protection temperatures, the power
    budget and the card-wide and per-port measurements."""

    feature = Feature.POE
    _count_function = "QRT_PoEGetPortNums"
    _get_function = "QRT_PoEGetPortEnable"
    _set_function = "QRT_PoESetPortEnable"
    _port = PoEPort
    _noun = "PoE port"


    power_calc_mode = setting("QRT_PoEGetPowConsumCalcModel", "QRT_PoESetPowConsumCalcModel",
                              doc="Power-consumption calculation mode (the controller's power "
                                  "budget control), an integer passed through unchanged.")

    @property
    def protect_temperatures_c(self) -> ProtectTemperatures:
        """(protect, recover) in degrees Celsius. Assign a pair to set both; the SDK takes
        80..130 and 70..120 with protect at least 10 above recover."""
        protect, recover = ctypes.c_int(), ctypes.c_int()
        self._call("QRT_PoEGetProtectTempRange", ctypes.byref(protect), ctypes.byref(recover))
        return ProtectTemperatures(protect.value, recover.value)

    @protect_temperatures_c.setter
    def protect_temperatures_c(self, value: Tuple[int, int]) -> None:
        protect, recover = integer_list(value, f"{self._where}: protection temperatures")
        self._call("QRT_PoESetProtectTempRange", protect, recover)

    def read_property(self, which: PoEProperty) -> float:
        """A card-wide property (:class:`qrt.PoEProperty`) as the SDK reports it."""
        return _float32(self._read("QRT_PoEGetProperty", ctypes.c_float, int(which)))

    temperature_c = _measured(PoEProperty.TEMPERATURE, "Card temperature in degrees Celsius.")
    consumed_budget_w = _measured(PoEProperty.CONSUMED_BUDGET,
                                  "PoE power budget in use, in watts.")
    left_budget_w = _measured(PoEProperty.LEFT_BUDGET, "PoE power budget left, in watts.")
    total_budget_w = _measured(PoEProperty.TOTAL_BUDGET,
                               "PoE power budget of the power input, in watts.")


class ActionCommand(NamedTuple):
    """A GigE Vision action command: the keys and mask the cameras match (32 bits each)."""

    device_key: int
    group_key: int
    group_mask: int


class ToEPort(Part):
    """One port's trigger over Ethernet: its stored action command and its counters."""

    component: "ToE"

    @property
    def action_command(self) -> ActionCommand:
        """The action command stored in the card for this port. Assign an
        :class:`ActionCommand` (or a 3-tuple) to store one: the frame goes out from the
        port's MAC and the address of the host interface that has it."""
        words = [ctypes.c_ulong() for _ in range(3)]
        self._call("QRT_ToEGetActionCommand", *(ctypes.byref(w) for w in words))
        return ActionCommand(*(w.value for w in words))

    @action_command.setter
    def action_command(self, command: Tuple[int, int, int]) -> None:
        # The frame carries 32-bit words: a wider key would go out as its low 32 bits.
        words = integer_list(command, f"{self._where}: action command")
        for name, word in zip(ActionCommand._fields, words):
            if not 0 <= word <= 0xFFFFFFFF:
                raise QrtInvalidParamError(f"{self._where}: {name} {word:#x} does not fit in "
                                           "32 bits")
        device_key, group_key, group_mask = words
        self._call("QRT_ToESetActionCommand", device_key, group_key, group_mask)

    def send(self) -> None:
        """Fires the stored action command out of this port."""
        self.component.send(self.index)

    @property
    def trigger_counts(self) -> Tuple[int, int]:
        """The two 16-bit trigger counters the card keeps for the port."""
        first, second = ctypes.c_uint(), ctypes.c_uint()
        self._call("QRT_ToEGetTriggerCount", ctypes.byref(first), ctypes.byref(second))
        return first.value, second.value


class ToE(Component):
    """Trigger over Ethernet of the Pro cards (feature 3): action commands stored in the card
    and fired by it, and the trigger settings of its control word."""

    feature = Feature.TOE
    ALL_PORTS = -1

    @property
    def port_count(self) -> int:
        """Number of ports."""
        return self._read("QRT_ToEGetPortNums", ctypes.c_uint)

    @property
    def ports(self) -> Parts[ToEPort]:
        """The ports."""
        return Parts(lambda: self.port_count, lambda i: ToEPort(self, i), "ToE port")

    def send(self, port: int = ALL_PORTS) -> None:
        """Fires the stored action command out of ``port``, or of every port at once."""
        self._call("QRT_ToESendActionCommand", integer(port, f"{self._where}: port"))

    def reset_trigger_counts(self) -> None:
        """Clears the trigger counters of every port."""
        self._call("QRT_ToEResetTriggerCount")

    trigger_enabled = setting("QRT_ToEGetTriggerEnable", "QRT_ToESetTriggerEnable", kind=bool,
                              doc="The trigger switch.")
    trigger_source = setting("QRT_ToEGetTriggerSource", "QRT_ToESetTriggerSource",
                             doc="The trigger source, 0 or 1.")
    one_trigger_all = setting("QRT_ToEGetOneTriggerAllMode", "QRT_ToESetOneTriggerAllMode",
                              kind=bool, doc="One-trigger-all mode: one trigger fires every port.")
    activation = setting("QRT_ToEGetTriggerActivation", "QRT_ToESetTriggerActivation", kind=Edge,
                         doc="The trigger activation edge (:class:`qrt.Edge`).")
    ex_trigger_debounce = setting("QRT_ToEGetExTriggerDebounce", "QRT_ToESetExTriggerDebounce",
                                  ctype=ctypes.c_ulong,
                                  doc="External trigger debounce in counts of "
                                      "``ex_trigger_debounce_unit`` (at most 0xFFFFFF).")
    ex_trigger_debounce_unit = setting("QRT_ToEGetExTriggerDebounceUnit", ctype=ctypes.c_ulong,
                                       doc="The size of one debounce count, as the card "
                                           "reports it.")


class Fan(Part):
    """One fan."""

    noun = "fan"

    speed_rpm = setting("QRT_FanGetSpeed", ctype=ctypes.c_uint,
                        doc="Speed in revolutions per minute.")
    pwm_percent = setting("QRT_FanGetPWM", "QRT_FanSetPWM", doc="PWM duty in percent.")
    smart = setting("QRT_FanGetSmartFanEnable", "QRT_FanSetSmartFanEnable", kind=bool,
                    doc="Automatic (smart) speed control.")


class FanControl(Component):
    """The fans of a product (feature 6)."""

    feature = Feature.FAN

    count = setting("QRT_FanGetNums", ctype=ctypes.c_uint, doc="Number of fans.")

    @property
    def fans(self) -> Parts[Fan]:
        """The fans."""
        return Parts(lambda: self.count, lambda i: Fan(self, i), "fan")

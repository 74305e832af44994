"""Digital inputs and outputs (feature 4) and the input trigger callback.

The SDK reports input changes from a monitor thread of its own, which exists while a callback
is registered. This module registers one ctypes function per DIO block for as long as a Python
callable is wanted and hands each event to that callable on the monitor thread, holding the
GIL (ctypes takes it for the call). An exception raised by the callable is reported through
``threading.excepthook`` (or the ``on_error`` function given) and the monitor goes on.

::

    with product.dio.monitor() as events:        # unregistered when the block ends
        for event in events.iter(timeout=5.0):   # DioEvent(input=1, state=1) ...
            print(event)
"""

from __future__ import annotations

import atexit
import ctypes
import queue
import sys
import threading
from typing import (Any, Callable, Dict, Iterable, Iterator, List, NamedTuple, Optional,
                    Tuple)

from ._api import DICapability, DioCapability, DOCapability, Edge, Feature
from ._component import Component, Part, Parts, setting
from .errors import check

Callback = Callable[[int, int], Any]
ErrorHandler = Callable[[BaseException], Any]

# Capability lists are short (the enumerations have two or three values).
_CAPABILITY_ROOM = 16


class DioEvent(NamedTuple):
    """An input change: the input's index and its new level (0 or 1)."""

    input: int
    state: int


def _capabilities(part: Any, function: str, kind: Any) -> list:
    caps = (ctypes.c_int * _CAPABILITY_ROOM)()
    count = part._call(function, caps, _CAPABILITY_ROOM)
    return [kind(c) for c in caps[:min(count, _CAPABILITY_ROOM)]]


class DigitalInput(Part):
    """One digital input."""

    noun = "input"

    component: "Dio"

    @property
    def capabilities(self) -> List[DICapability]:
        """What the input offers."""
        return _capabilities(self, "QRT_DIOGetDICapability", DICapability)

    state = setting("QRT_DIOGetDIState", doc="The input's level, 0 or 1.")
    edge = setting("QRT_DIOGetDIEdgeTrigger", "QRT_DIOSetDIEdgeTrigger", kind=Edge,
                   doc="The edge (:class:`qrt.Edge`) on which the input reports a change: "
                       "EDGE0 and EDGE1 are the DIO driver's trigger modes 1 and 0 (rising "
                       "and falling on the embedded system), BOTH is mode 2.")
    debounce = setting("QRT_DIOGetDIDebounceTime", "QRT_DIOSetDIDebounceTime",
                       ctype=ctypes.c_ulong,
                       doc="Debounce time in counts of ``Dio.debounce_unit``.")
    trigger_enabled = setting("QRT_DIOGetDITriggerEnable", "QRT_DIOSetDITriggerEnable",
                              ctype=ctypes.c_uint, kind=bool, doc="The input's trigger switch.")
    pulse_width = setting("QRT_DIOGetDITriggerPulseWidth", "QRT_DIOSetDITriggerPulseWidth",
                          ctype=ctypes.c_ulong,
                          doc="Trigger pulse width in counts of ``Dio.input_pulse_width_unit``.")

    @property
    def mapped_outputs(self) -> List[int]:
        """The outputs this input triggers (one-to-many mapping table)."""
        return self._read_array("QRT_DIOGetTrigger1vsMultipleMappingTable", ctypes.c_uint,
                                self.component.output_count)

    @mapped_outputs.setter
    def mapped_outputs(self, outputs: Iterable[int]) -> None:
        self._write_array("QRT_DIOSetTrigger1vsMultipleMappingTable", ctypes.c_uint, outputs)


class DigitalOutput(Part):
    """One digital output."""

    noun = "output"

    @property
    def capabilities(self) -> List[DOCapability]:
        """What the output offers."""
        return _capabilities(self, "QRT_DIOGetDOCapability", DOCapability)

    state = setting("QRT_DIOGetDOState", "QRT_DIOSetDOState",
                    doc="The output's level, 0 or 1 (reading needs DOCapability.READBACK).")
    invert = setting("QRT_DIOGetDOInvertState", "QRT_DIOSetDOInvertState", kind=bool,
                     doc="Inverted output.")
    trigger_enabled = setting("QRT_DIOGetDOTriggerEnable", "QRT_DIOSetDOTriggerEnable",
                              ctype=ctypes.c_uint, kind=bool, doc="The output's trigger switch.")
    delay = setting("QRT_DIOGetDOTriggerDelay", "QRT_DIOSetDOTriggerDelay", ctype=ctypes.c_ulong,
                    doc="Trigger delay in counts of ``Dio.output_delay_unit``.")
    pulse_width = setting("QRT_DIOGetDOTriggerPulseWidth", "QRT_DIOSetDOTriggerPulseWidth",
                          ctype=ctypes.c_ulong,
                          doc="Trigger pulse width in counts of ``Dio.output_pulse_width_unit``.")

    def trigger(self) -> None:
        """Fires the output's trigger pulse."""
        self._call("QRT_DIOTriggerDO")


class Dio(Component):
    """The digital inputs and outputs of a product (feature 4)."""

    feature = Feature.DIO

    @property
    def capabilities(self) -> List[DioCapability]:
        """What the block offers: inputs (DioCapability.DI), outputs (DioCapability.DO)."""
        return _capabilities(self, "QRT_DIOGetCapability", DioCapability)

    input_count = setting("QRT_DIOGetDINums", ctype=ctypes.c_uint, doc="Number of inputs.")
    output_count = setting("QRT_DIOGetDONums", ctype=ctypes.c_uint, doc="Number of outputs.")

    @property
    def inputs(self) -> Parts[DigitalInput]:
        """The digital inputs."""
        return Parts(lambda: self.input_count, lambda i: DigitalInput(self, i), "input")

    @property
    def outputs(self) -> Parts[DigitalOutput]:
        """The digital outputs."""
        return Parts(lambda: self.output_count, lambda i: DigitalOutput(self, i), "output")

    @property
    def input_states(self) -> List[int]:
        """Every input's level."""
        return self._read_array("QRT_DIOGetDIStates", ctypes.c_int, self.input_count)

    @property
    def output_states(self) -> List[int]:
        """Every output's level (needs read-back on every output). Assign a list to set
        outputs 0 .. len - 1."""
        return self._read_array("QRT_DIOGetDOStates", ctypes.c_int, self.output_count)

    @output_states.setter
    def output_states(self, states: Iterable[int]) -> None:
        self._write_array("QRT_DIOSetDOStates", ctypes.c_int, states)

    debounce_unit = setting("QRT_DIOGetDIDebounceTimeUnit", ctype=ctypes.c_ulong,
                            doc="The size of one input debounce count.")
    input_pulse_width_unit = setting("QRT_DIOGetDITriggerPulseWidthUnit", ctype=ctypes.c_ulong,
                                     doc="The size of one input pulse-width count.")
    output_delay_unit = setting("QRT_DIOGetDOTriggerDelayUnit", ctype=ctypes.c_ulong,
                                doc="The size of one output delay count.")
    output_pulse_width_unit = setting("QRT_DIOGetDOTriggerPulseWidthUnit", ctype=ctypes.c_ulong,
                                      doc="The size of one output pulse-width count.")

    def trigger_outputs(self, outputs: Iterable[int]) -> None:
        """Fires the trigger pulses of several outputs at once."""
        self._write_array("QRT_DIOTriggerDOs", ctypes.c_uint, outputs)

    @property
    def one_to_one_mapping(self) -> List[int]:
        """The output each input triggers (one-to-one mapping table, one entry per input)."""
        return self._read_array("QRT_DIOGetTrigger1vs1MappingTable", ctypes.c_uint,
                                self.input_count)

    @one_to_one_mapping.setter
    def one_to_one_mapping(self, table: Iterable[int]) -> None:
        self._write_array("QRT_DIOSetTrigger1vs1MappingTable", ctypes.c_uint, table)

    # ---- the trigger callback -----------------------------------------------------------

    def set_callback(self, callback: Optional[Callback],
                     on_error: Optional[ErrorHandler] = None) -> None:
        """Calls ``callback(input, state)`` on the SDK's monitor thread for every input change,
        or stops the monitor (``None``, which returns once the thread has ended: up to about
        3 s). Replacing one callable by another keeps the monitor running, so no event is lost
        in between. Neither may be done from within the callback, which runs on the thread
        they would wait for (RuntimeError)."""
        _registration(self).set(callback, on_error)

    def monitor(self, callback: Optional[Callback] = None, *,
                on_error: Optional[ErrorHandler] = None) -> "DioMonitor":
        """A context manager that registers a callback while it is entered: ``callback`` if
        given, else a queue of :class:`DioEvent` read with ``get`` or ``iter``."""
        return DioMonitor(self, callback, on_error)


class DioMonitor:
    """Input events of a DIO block while the monitor is entered (or between ``start`` and
    ``stop``): handed to the callback given, or else queued for ``get`` and ``iter``."""

    def __init__(self, dio: Dio, callback: Optional[Callback] = None,
                 on_error: Optional[ErrorHandler] = None) -> None:
        self.dio = dio
        self.events: "queue.Queue[DioEvent]" = queue.Queue()
        self._callback = callback
        self._on_error = on_error

    def _deliver(self, di: int, state: int) -> None:
        if self._callback is not None:
            self._callback(di, state)
        else:
            self.events.put(DioEvent(di, state))

    def start(self) -> "DioMonitor":
        self.dio.set_callback(self._deliver, self._on_error)
        return self

    def stop(self) -> None:
        self.dio.set_callback(None)

    def __enter__(self) -> "DioMonitor":
        return self.start()

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()

    def get(self, timeout: Optional[float] = None) -> Optional[DioEvent]:
        """The next queued event, waiting at most ``timeout`` seconds; None when none came."""
        try:
            return self.events.get(timeout=timeout)
        except queue.Empty:
            return None

    def iter(self, timeout: Optional[float] = None) -> Iterator[DioEvent]:
        """Queued events as they come, until none has come for ``timeout`` seconds."""
        while True:
            event = self.get(timeout)
            if event is None:
                return
            yield event


class _Registration:
    """The SDK's callback slot of one DIO block: one ctypes function, kept alive here for as
    long as the SDK may call it, that forwards to whatever Python callable is current."""

    def __init__(self, dio: Dio) -> None:
        self._lib = dio._lib
        self._handle = dio._handle
        self._where = dio._where
        self._lock = threading.Lock()
        # The callable and its error handler, replaced together: the monitor thread reads
        # them at any moment.
        self._slot: Tuple[Optional[Callback], Optional[ErrorHandler]] = (None, None)
        self._registered = False
        self._monitor_thread: Optional[int] = None
        function_type = self._lib.callback_type()
        self._function = function_type(self._deliver)
        self._no_function = function_type()  # a null function pointer

    def _deliver(self, di: int, state: int) -> None:
        # Runs on the SDK's monitor thread with the GIL held; nothing may escape into C.
        self._monitor_thread = threading.get_ident()
        target, on_error = self._slot
        if target is None:
            return
        try:
            target(di, state)
        except BaseException as error:  # noqa: B036 - the monitor thread must go on
            _report(error, on_error)

    def set(self, callback: Optional[Callback], on_error: Optional[ErrorHandler]) -> None:
        if self._monitor_thread == threading.get_ident():
            raise RuntimeError("the DI trigger callback cannot be changed or stopped from "
                               "within the callback")
        with self._lock:
            if callback is None:
                if self._registered:
                    # Returns when the monitor thread has ended: no call comes after this.
                    status = self._lib.QRT_DIOSetDITriggerCallback(self._handle, self._no_function)
                    self._registered = False
                    self._monitor_thread = None
                    self._slot = (None, None)
                    _check(status, self._where)
                return
            self._slot = (callback, on_error)
            if self._registered:
                return
            status = self._lib.QRT_DIOSetDITriggerCallback(self._handle, self._function)
            if status < 0:
                self._slot = (None, None)
                _check(status, self._where)
            self._registered = True

    def stop_at_exit(self) -> None:
        if self._registered:
            self.set(None, None)


# One per DIO block, for the life of the process: the SDK may call its function until the
# registration is stopped, and a later one reuses it.
_registrations: Dict[int, _Registration] = {}
_registrations_lock = threading.Lock()


def _registration(dio: Dio) -> _Registration:
    with _registrations_lock:
        if dio._handle not in _registrations:
            _registrations[dio._handle] = _Registration(dio)
        return _registrations[dio._handle]


def _check(status: int, where: str) -> None:
    check(status, f"{where}: QRT_DIOSetDITriggerCallback")


def _report(error: BaseException, on_error: Optional[ErrorHandler]) -> None:
    if on_error is not None:
        try:
            on_error(error)
            return
        except BaseException as handler_error:  # noqa: B036
            error = handler_error
    threading.excepthook(threading.ExceptHookArgs(  # type: ignore[call-arg]
        (type(error), error, error.__traceback__, threading.current_thread())))


@atexit.register
def _stop_monitors() -> None:
    """Stops every monitor before the interpreter shuts down: a monitor thread must not call
    into an interpreter that is going away."""
    for registration in list(_registrations.values()):
        try:
            registration.stop_at_exit()
        except Exception as error:  # noqa: BLE001 - exiting anyway
            print(f"qrt: stopping a DIO monitor at exit: {error}", file=sys.stderr)


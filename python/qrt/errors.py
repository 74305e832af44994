"""Status codes of the SDK as exceptions.

Every call that the SDK answers with a negative status raises a subclass of :class:`QrtError`
carrying that status in ``code``::

    try:
        product.poe.protect_temperatures_c = (85, 76)
    except qrt.QrtInvalidParamError as error:
        print(error.code, error.operation)   # -11 'PoE protection temperatures'
"""

from __future__ import annotations

from typing import Dict, Optional, Type, Union

from ._api import Status


class QrtError(Exception):
    """A call failed with an SDK status. ``code`` is the status (an int, a :class:`Status`
    where the SDK names it), ``operation`` says what was asked."""

    code: Union[Status, int] = Status.ERR_FAILED

    def __init__(self, operation: str = "", code: Optional[int] = None) -> None:
        if code is not None:
            self.code = _status(code)
        self.operation = operation
        name = self.code.name if isinstance(self.code, Status) else "status"
        where = f"{operation}: " if operation else ""
        super().__init__(f"{where}QRT_{name} ({int(self.code)})")


class QrtFailedError(QrtError):
    """-1: the hardware access failed (a driver request, a bus transfer, a sysfs file, a
    controller's answer)."""

    code = Status.ERR_FAILED


class QrtNotSupportedError(QrtError):
    """-5: the product lacks the component, or the line or port lacks the capability, or the
    model does not implement the operation."""

    code = Status.ERR_NOT_SUPPORTED


class QrtInvalidParamError(QrtError, ValueError):
    """-11: an index at or beyond the count, a value out of range, a list of the wrong
    length."""

    code = Status.ERR_INVALID_PARAM


class QrtIndexError(QrtInvalidParamError, IndexError):
    """-11 from a sequence of ports, fans or lines indexed beyond its length (also an
    IndexError, so the sequences behave as Python sequences)."""


class QrtNotInitializedError(QrtError):
    """-13: the product or its component has not been brought up."""

    code = Status.ERR_NOT_INITIALIZED


class QrtBusyError(QrtError):
    """-100: another caller holds the product (its lock was not obtained within about 10 s),
    the controller is busy, or a monitor is already running."""

    code = Status.ERR_BUSY


_BY_CODE: Dict[int, Type[QrtError]] = {
    int(cls.code): cls
    for cls in (QrtFailedError, QrtNotSupportedError, QrtInvalidParamError,
                QrtNotInitializedError, QrtBusyError)
}


def _status(code: int) -> Union[Status, int]:
    try:
        return Status(code)
    except ValueError:
        return code


def error_for(code: int, operation: str = "") -> QrtError:
    """The exception for a negative status (QrtError itself for a code the SDK does not
    name)."""
    return _BY_CODE.get(code, QrtError)(operation, code)


def check(status: int, operation: str) -> int:
    """Returns a non-negative result; raises the status's exception for a negative one."""
    if status < 0:
        raise error_for(status, operation)
    return status

"""Loading libQRT_SDK and binding its functions with ctypes, from the generated table."""

from __future__ import annotations

import ctypes
import os
import pathlib
import threading
from typing import Any, Callable, Dict, Optional

from ._api import CALLBACKS, FUNCTIONS, Function

SONAME = "libQRT_SDK.so.1"
ENVIRONMENT_VARIABLE = "QRT_SDK_LIBRARY"

_SCALARS = {
    "void": None,
    "char": ctypes.c_char,
    "int": ctypes.c_int,
    "unsigned int": ctypes.c_uint,
    "unsigned long": ctypes.c_ulong,
    "float": ctypes.c_float,
    "void*": ctypes.c_void_p,
}


def ctype(name: str) -> Any:
    """The ctypes type of a C type of the API. The public enumerations are 32-bit integers."""
    if name in _SCALARS:
        return _SCALARS[name]
    if name in CALLBACKS:
        result, parameters = CALLBACKS[name]
        return ctypes.CFUNCTYPE(ctype(result), *(ctype(p) for p in parameters))
    if name.endswith("*"):
        return ctypes.POINTER(ctype(name[:-1]))
    if name.startswith("QRT_") and name.endswith("_TYPE"):
        return ctypes.c_int
    raise TypeError(f"no ctypes type for the C type {name!r}")


# What an integer argument of each C type can hold; ctypes would silently wrap anything else.
_INTEGER_RANGES = {
    ctypes.c_int: (-(2**31), 2**31 - 1),
    ctypes.c_uint: (0, 2**32 - 1),
    ctypes.c_ulong: (0, 2**64 - 1),
}


class LibraryNotFoundError(OSError):
    """libQRT_SDK could not be loaded."""


class Library:
    """libQRT_SDK with every function of the C API bound: ``lib.QRT_PoEGetPortNums(handle,
    ctypes.byref(n))``. ``functions`` maps each name to its entry of the generated table.

    The functions release the GIL while they run (ctypes.CDLL), so other Python threads, and
    the DIO monitor thread delivering a trigger callback, go on while a call waits for the
    hardware."""

    def __init__(self, path: str) -> None:
        self.path = path
        try:
            self._cdll = ctypes.CDLL(path)
        except OSError as error:
            raise LibraryNotFoundError(f"cannot load {path}: {error}") from error
        self.functions: Dict[str, Function] = {}
        self._ranges: Dict[str, list] = {}
        for function in FUNCTIONS:
            bound = getattr(self._cdll, function.name)
            bound.restype = ctype(function.result)
            bound.argtypes = [ctype(t) for t, _ in function.parameters]
            setattr(self, function.name, bound)
            self.functions[function.name] = function
            self._ranges[function.name] = [_INTEGER_RANGES.get(t) for t in bound.argtypes]

    def out_of_range(self, name: str, args: tuple) -> Optional[str]:
        """Which integer argument of a call the C type cannot hold, or None."""
        for (c_type, parameter), bounds, value in zip(self.functions[name].parameters,
                                                      self._ranges[name], args):
            if bounds and isinstance(value, int) and not bounds[0] <= value <= bounds[1]:
                return f"{parameter} = {value} does not fit in {c_type}"
        return None

    def callback_type(self, name: str = "QRT_DITRIGGER_CALLBACK") -> Any:
        return ctype(name)

    def __getattr__(self, name: str) -> Callable[..., Any]:
        raise AttributeError(f"libQRT_SDK has no function {name} in the binding's table")


def _installed_library() -> Optional[str]:
    """The library beside which `cmake --install` put this package, when it did."""
    try:
        from ._installed import LIBRARY_FROM_PACKAGE
    except ImportError:
        return None
    candidate = (pathlib.Path(__file__).parent / LIBRARY_FROM_PACKAGE).resolve()
    return str(candidate) if candidate.exists() else None


_lock = threading.Lock()
_library: Optional[Library] = None


def library() -> Library:
    """The loaded library, loaded on first use: from $QRT_SDK_LIBRARY when it is set, else the
    copy installed beside this package by `cmake --install`, else libQRT_SDK.so.1 wherever the
    dynamic linker finds it. Loading it detects the products (once per process)."""
    global _library
    with _lock:
        if _library is None:
            path = os.environ.get(ENVIRONMENT_VARIABLE) or _installed_library() or SONAME
            _library = Library(path)
        return _library

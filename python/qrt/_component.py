"""What every component and every port, fan or line object shares: calling the SDK with the
product handle and its own leading arguments, turning statuses into exceptions, and sequences
of ports and lines."""

from __future__ import annotations

import ctypes
import operator
from typing import Any, Callable, Iterable, List, Optional, Sequence, TypeVar, Union, overload

from ._api import Feature
from ._library import Library, library
from .errors import QrtIndexError, QrtInvalidParamError, check

T = TypeVar("T")


def integer(value: Any, what: str) -> int:
    """``value`` as an integer argument of the C API: an int, a bool or anything with
    ``__index__``. A float or a text raises TypeError instead of being cut or parsed."""
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{what}: {value!r} is not an integer") from None


def switch_state(value: Any, what: str) -> int:
    """A port's or line's switch: True/False or 1/0; anything else raises (TypeError for what
    is no integer, :class:`qrt.QrtInvalidParamError`, a ValueError, for other numbers)."""
    state = integer(value, what)
    if state not in (0, 1):
        raise QrtInvalidParamError(f"{what}: {value!r} is not a switch state (0, 1, False, True)")
    return state


def integer_list(values: Iterable[Any], what: str) -> List[int]:
    """The integers of a list argument; a text is no list of values (TypeError)."""
    if isinstance(values, (str, bytes, bytearray)):
        raise TypeError(f"{what}: a text is not a list of values: {values!r}")
    return [integer(v, what) for v in values]


class _Calls:
    """Calls functions of the C API as ``fn(handle, *self._args, ...)``."""

    _lib: Library
    _handle: int
    _args: tuple = ()
    _where: str

    def _call(self, function: str, *args: Any) -> int:
        arguments = (self._handle, *self._args, *args)
        problem = self._lib.out_of_range(function, arguments)
        if problem:
            raise QrtInvalidParamError(f"{self._where}: {function}: {problem}")
        return check(getattr(self._lib, function)(*arguments), f"{self._where}: {function}")

    def _read(self, function: str, ctype: Any = ctypes.c_int, *args: Any) -> Any:
        value = ctype()
        self._call(function, *args, ctypes.byref(value))
        return value.value

    def _read_array(self, function: str, ctype: Any, count: int) -> list:
        values = (ctype * count)()
        self._call(function, values, count)
        return list(values)

    def _write_array(self, function: str, ctype: Any, values: Iterable[Any]) -> None:
        items = integer_list(values, f"{self._where}: {function}")
        self._call(function, (ctype * len(items))(*items), len(items))


def setting(getter: Optional[str], setter: Optional[str] = None, *,
            ctype: Any = ctypes.c_int, kind: Callable[[Any], Any] = int,
            doc: str = "") -> property:
    """A value read with ``getter`` (converted by ``kind``) and written with ``setter``."""

    def fget(self: _Calls) -> Any:
        if getter is None:
            raise AttributeError("write-only")
        return kind(self._read(getter, ctype))

    def fset(self: _Calls, value: Any) -> None:
        self._call(setter, integer(value, f"{self._where}: {setter}"))

    return property(fget if getter else None, fset if setter else None, doc=doc)


class Component(_Calls):
    """One component (feature) of a product. Its calls raise :class:`qrt.QrtError` subclasses;
    a component the product lacks answers :class:`qrt.QrtNotSupportedError` (-5)."""

    feature: Feature

    def __init__(self, product: Any) -> None:
        self.product = product
        self._lib = library()
        self._handle = product.handle
        self._where = f"product {product.index}"

    def __repr__(self) -> str:
        return f"<{type(self).__name__} of product {self.product.index}>"


class Part(_Calls):
    """A port, fan or line of a component: the component's calls with its index first."""

    noun = "port"

    def __init__(self, component: Component, index: int) -> None:
        self.component = component
        self.index = index
        self._lib = component._lib
        self._handle = component._handle
        self._args = (index,)
        self._where = f"{component._where}, {self.noun} {index}"

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self.index} of product {self.component.product.index}>"


class Parts(Sequence[T]):
    """The ports, fans or lines of a component as a read-only sequence. Its length is the
    count the SDK reports; an index beyond it raises :class:`qrt.QrtIndexError` (an
    IndexError carrying -11)."""

    def __init__(self, count: Callable[[], int], make: Callable[[int], T], what: str) -> None:
        self._count = count
        self._make = make
        self._what = what

    def __len__(self) -> int:
        return self._count()

    @overload
    def __getitem__(self, index: int) -> T: ...

    @overload
    def __getitem__(self, index: slice) -> List[T]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[T, List[T]]:
        count = len(self)
        if isinstance(index, slice):
            return [self._make(i) for i in range(*index.indices(count))]
        position = index + count if index < 0 else index
        if not 0 <= position < count:
            raise QrtIndexError(f"{self._what} {index} ({count} present)")
        return self._make(position)

    def __iter__(self):  # one count for the whole loop
        return (self._make(i) for i in range(len(self)))

    def __repr__(self) -> str:
        return f"<{len(self)} {self._what}s>"

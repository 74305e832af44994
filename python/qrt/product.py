"""Products: what the SDK found when it was loaded, their identity and their components."""

from __future__ import annotations

import ctypes
from typing import Dict, Generic, List, Optional, Type, TypeVar, Union

from ._api import Feature, ProductType, Status
from ._library import library
from .components import ExternalPowerSupply, FanControl, PoE, PowerController, ToE
from .dio import Dio
from .errors import QrtError, QrtIndexError, check
from ._component import Component

C = TypeVar("C", bound=Component)

_INFO_ROOM = 1024
_SERIAL_ROOM = 64

COMPONENTS: Dict[Feature, Type[Component]] = {
    cls.feature: cls for cls in (PowerController, PoE, ToE, Dio, ExternalPowerSupply, FanControl)
}


def parse_info(text: str) -> Dict[str, str]:
    """An identity text ("Key:value" lines) as a dict, keys and values without the spaces
    around them."""
    fields = {}
    for line in text.splitlines():
        key, colon, value = line.partition(":")
        if colon:
            fields[key.strip()] = value.strip()
    return fields


class _Listed(Generic[C]):
    """A component attribute of a product: the component object when the product lists its
    feature, else None."""

    def __init__(self, cls: Type[C], doc: str) -> None:
        self.cls = cls
        self.__doc__ = doc

    def __get__(self, product: Optional["Product"], owner: type) -> Optional[C]:
        if product is None:
            return self  # type: ignore[return-value]  # the descriptor, for help()
        return self.cls(product) if self.cls.feature in product.features else None


class Product:
    """A product the SDK found: a PoE or USB3 card, or the embedded vision system.

    Components are attributes, ``None`` when the product does not list them::

        if product.poe is not None:
            product.poe.enabled = [1, 0, 1, 1]
    """

    def __init__(self, index: int, handle: int) -> None:
        self.index = index
        self.handle = handle
        self._lib = library()
        self._features: Optional[List[Feature]] = None

    def _where(self, function: str) -> str:
        return f"product {self.index}: {function}"

    def _text(self, function: str, room: int) -> str:
        buffer = ctypes.create_string_buffer(room)
        check(getattr(self._lib, function)(self.handle, buffer, room), self._where(function))
        return buffer.value.decode("utf-8", "replace")

    def _unless_unsupported(self, status: int, function: str) -> bool:
        """False for -5 (the product has no such value), True for success; raises otherwise."""
        if status == Status.ERR_NOT_SUPPORTED:
            return False
        check(status, self._where(function))
        return True

    @property
    def info_text(self) -> str:
        """The identity text as the product writes it ("Product:...\\r\\n" lines)."""
        return self._text("QRT_GetProductInfo", _INFO_ROOM)

    @property
    def info(self) -> Dict[str, str]:
        """The identity text as a dict: "Product", "PN", "SN", "PCBVersion", "MAC0" ...
        (the keys the product writes)."""
        return parse_info(self.info_text)

    @property
    def model(self) -> str:
        """The model string ("PCIe-RHX10T"), from the identity text."""
        return self.info.get("Product", "")

    @property
    def type(self) -> Union[ProductType, int]:
        """The product type; ProductType.UNKNOWN when the product cannot tell."""
        value = check(self._lib.QRT_GetProductType(self.handle), self._where("QRT_GetProductType"))
        try:
            return ProductType(value)
        except ValueError:
            return value

    @property
    def serial(self) -> Optional[str]:
        """The serial number; None on a product that has none (the PCIe-RHX44+)."""
        buffer = ctypes.create_string_buffer(_SERIAL_ROOM)
        status = self._lib.QRT_GetProductSN(self.handle, buffer, _SERIAL_ROOM)
        if not self._unless_unsupported(status, "QRT_GetProductSN"):
            return None
        return buffer.value.decode("utf-8", "replace")

    @property
    def card_id(self) -> Optional[int]:
        """The card identifier read from the board; None on a product that is not a PCIe
        card (the embedded system)."""
        value = ctypes.c_int()
        status = self._lib.QRT_GetCardID(self.handle, ctypes.byref(value))
        return value.value if self._unless_unsupported(status, "QRT_GetCardID") else None

    @property
    def features(self) -> List[Feature]:
        """The components the product lists, in its order."""
        if self._features is None:
            function = "QRT_GetFeatureList"
            count = check(self._lib.QRT_GetFeatureList(self.handle, None, 0), self._where(function))
            features = (ctypes.c_int * count)()
            check(self._lib.QRT_GetFeatureList(self.handle, features, count), self._where(function))
            self._features = [Feature(f) for f in features]
        return list(self._features)

    def component(self, feature: Feature) -> Component:
        """The component object for a feature number, whether the product lists it or not:
        calls on a component the product lacks raise QrtNotSupportedError (-5)."""
        return COMPONENTS[Feature(feature)](self)

    power = _Listed(PowerController, "USB port power, or None.")
    poe = _Listed(PoE, "Power over Ethernet, or None.")
    toe = _Listed(ToE, "Trigger over Ethernet, or None.")
    dio = _Listed(Dio, "Digital inputs and outputs, or None.")
    exsupply = _Listed(ExternalPowerSupply, "External power supply inputs, or None.")
    fan = _Listed(FanControl, "Fans, or None.")

    def __repr__(self) -> str:
        try:
            return f"<Product {self.index}: {self.model} {self.serial}>"
        except QrtError as error:
            return f"<Product {self.index}: {error}>"


def product_count() -> int:
    """Number of products the SDK found when it was loaded."""
    return library().QRT_GetProductNums()


def product(index: int) -> Product:
    """The product at ``index``; QrtIndexError (-11) beyond the last."""
    handle = library().QRT_GetProductHandle(index) if 0 <= index <= 0xFFFFFFFF else None
    if not handle:
        raise QrtIndexError(f"product {index} ({product_count()} found)")
    return Product(index, handle)


def products() -> List[Product]:
    """Every product the SDK found, in its order."""
    return [product(i) for i in range(product_count())]


def sdk_info() -> Dict[str, str]:
    """The SDK's information text as a dict: "SDK Version" and, where the kernel driver
    answers, "Driver Version"."""
    buffer = ctypes.create_string_buffer(256)
    check(library().QRT_GetSDKInfo(buffer, len(buffer)), "QRT_GetSDKInfo")
    return parse_info(buffer.value.decode("utf-8", "replace"))

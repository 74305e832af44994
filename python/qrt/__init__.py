"""Python binding of the QRT SDK: the machine-vision products of this computer (PoE
frame-grabber cards, USB3 host cards, the embedded vision system) and their components.

::

    import qrt

    for product in qrt.products():
        print(product.index, product.model, product.type.name, product.serial, product.features)
        if product.poe is not None:
            product.poe.enabled = [1, 0, 1, 1]
            print([port.current_a for port in product.poe.ports])

The package loads ``libQRT_SDK.so.1`` on first use (``$QRT_SDK_LIBRARY`` names another file);
loading it finds the products, once per process. Failures raise :class:`QrtError` subclasses
that carry the SDK's status code. ``qrt.library()`` gives the C functions themselves.
"""

from ._api import (DICapability, DioCapability, DOCapability, Edge, Feature, PoEPortProperty,
                   PoEProperty, ProductType, Status)
from ._library import ENVIRONMENT_VARIABLE, Library, LibraryNotFoundError, library
from .components import (ActionCommand, ExternalPowerSupply, Fan, FanControl, PoE, PoEPort,
                         PowerController, ProtectTemperatures, SwitchedPort, ToE, ToEPort)
from .dio import DigitalInput, DigitalOutput, Dio, DioEvent, DioMonitor
from .errors import (QrtBusyError, QrtError, QrtFailedError, QrtIndexError, QrtInvalidParamError,
                     QrtNotInitializedError, QrtNotSupportedError)
from .product import Product, product, product_count, products, sdk_info

__version__ = "1.7.7"

__all__ = [
    "ActionCommand", "DICapability", "DigitalInput", "DigitalOutput", "Dio", "DioCapability",
    "DioEvent", "DioMonitor", "DOCapability", "Edge", "ENVIRONMENT_VARIABLE",
    "ExternalPowerSupply", "Fan", "FanControl", "Feature", "Library", "LibraryNotFoundError",
    "PoE", "PoEPort", "PoEPortProperty", "PoEProperty", "PowerController", "Product",
    "ProductType", "ProtectTemperatures", "QrtBusyError", "QrtError", "QrtFailedError",
    "QrtIndexError", "QrtInvalidParamError", "QrtNotInitializedError", "QrtNotSupportedError",
    "Status", "SwitchedPort", "ToE", "ToEPort", "library", "product", "product_count",
    "products", "sdk_info",
]

#!/usr/bin/env python3
"""Lists the products the SDK finds, with their identity and components."""

import qrt

COMPONENTS = ("power", "poe", "toe", "dio", "exsupply", "fan")

print("SDK:", qrt.sdk_info())
for product in qrt.products():
    present = [name for name in COMPONENTS if getattr(product, name) is not None]
    print(f"{product.index}: {product.model} ({product.type.name}) serial {product.serial} "
          f"card id {product.card_id}: {', '.join(present)}")
    for key, value in product.info.items():
        print(f"    {key}: {value}")

#!/usr/bin/env python3
"""USB3 host cards: switches the power of every other USB port off, then all on again, and
shows whether an external supply is plugged in."""

import qrt

for product in qrt.products():
    if product.power is None:
        continue
    power = product.power
    print(f"{product.model}: {power.port_count} USB ports, powered {power.enabled}")
    power.enabled = [i % 2 == 0 for i in range(power.port_count)]
    print("  every other port off:", power.enabled)
    power.ports[1].enabled = True            # one port on its own
    power.enabled = [True] * power.port_count
    print("  all on again:", power.enabled)
    if product.exsupply is not None:
        print("  external supply connected:", product.exsupply.states)

#!/usr/bin/env python3
"""PoE cards and the embedded system: port switches, measurements, the power budget and the
temperature protection. Models that lack a value answer QrtNotSupportedError (-5)."""

import qrt


def show(label, read):
    try:
        print(f"  {label}: {read()}")
    except qrt.QrtNotSupportedError:
        print(f"  {label}: not on this model")


for product in qrt.products():
    poe = product.poe
    if poe is None:
        continue
    print(f"{product.model}: {poe.port_count} PoE ports")
    poe.enabled = [1] * poe.port_count
    show("temperature °C", lambda: poe.temperature_c)
    show("budget used/total W", lambda: (poe.consumed_budget_w, poe.total_budget_w))
    show("protection (protect, recover) °C", lambda: poe.protect_temperatures_c)
    for port in poe.ports:
        show(f"port {port.index} (on, class, V, A, good)",
             lambda: (port.enabled, port.power_class, round(port.voltage_v, 1),
                      round(port.current_a, 3), port.power_good))

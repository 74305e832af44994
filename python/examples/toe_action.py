#!/usr/bin/env python3
"""Trigger over Ethernet on the Pro cards: stores a GigE Vision action command for port 0 and
fires it, then reads the trigger settings and counters."""

import qrt

for product in qrt.products():
    toe = product.toe
    if toe is None:
        continue
    print(f"{product.model}: {toe.port_count} ToE ports")
    port = toe.ports[0]
    try:
        port.action_command = qrt.ActionCommand(device_key=0x12345678, group_key=1,
                                                group_mask=0xFFFFFFFF)
        port.send()
        print("  sent", port.action_command)
    except qrt.QrtError as error:  # no host interface carries the port
        print("  port 0 cannot send:", error)
    toe.trigger_enabled = True
    toe.activation = qrt.Edge.BOTH
    print(f"  trigger on={toe.trigger_enabled} source={toe.trigger_source} "
          f"activation={toe.activation.name} counts={[p.trigger_counts for p in toe.ports]}")

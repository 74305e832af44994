#!/usr/bin/env python3
"""Digital I/O of the embedded system: sets outputs, selects trigger edges and prints input
changes for a few seconds (python3 dio_monitor.py [SECONDS])."""

import sys

import qrt

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 10.0

for product in qrt.products():
    dio = product.dio
    if dio is None:
        continue
    print(f"{product.model}: {dio.input_count} inputs {dio.input_states}, "
          f"{dio.output_count} outputs")
    dio.outputs[0].state = 1
    for line in dio.inputs:
        if qrt.DICapability.EDGE_TRIGGER in line.capabilities:
            line.edge = qrt.Edge.BOTH
    # The callback runs on the SDK's monitor thread; the monitor queues events for this one
    # and unregisters when the block ends.
    with dio.monitor() as events:
        print(f"watching the inputs for {SECONDS} s")
        for event in events.iter(timeout=SECONDS):
            print(f"  input {event.input} -> {event.state}")

#!/usr/bin/env python3
"""Fans (the GPU card): speed, PWM duty and automatic control."""

import qrt

for product in qrt.products():
    if product.fan is None:
        continue
    for fan in product.fan.fans:
        print(f"{product.model} fan {fan.index}: {fan.speed_rpm} rpm at {fan.pwm_percent} %, "
              f"smart={fan.smart}")
        fan.pwm_percent = 80
        print(f"  at 80 %: {fan.speed_rpm} rpm")
        fan.smart = True

"""Reads the Prometheus text exposition format on standard input with the reference parser and
prints the families as one line of JSON: {name: {"type", "help", "samples": [{labels, value}]}}.
A text the parser rejects ends the script with an error."""
import json
import sys

from prometheus_client.parser import text_string_to_metric_families

families = {}
for family in text_string_to_metric_families(sys.stdin.read()):
    families[family.name] = {
        "type": family.type,
        "help": family.documentation,
        "samples": [{"name": s.name, "labels": s.labels, "value": s.value} for s in family.samples],
    }
print(json.dumps(families))

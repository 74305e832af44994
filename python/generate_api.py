#!/usr/bin/env python3
"""Writes the binding's table of the C API, ``qrt/_api.py``, from the files the C API itself is
built from:

- ``api/QRT_ComponentFunctions.def``: the component functions, one X-macro line each, with the
  lookup that finds their component;
- ``api/QRT_ComponentLookup.h``: which feature number each lookup asks the product for;
- ``api/QRT_SDK.h``: the product-level functions (the declarations that are not in the list);
- ``api/QRT_Types.h``: the enumerations and the trigger callback type.

The binding never restates a signature by hand: a function added to the list or the header
appears in the table at the next build, and a header declaration that disagrees with the list
stops the build.

    generate_api.py API_DIR OUTPUT
"""

from __future__ import annotations

import pathlib
import re
import sys

# Python names of the public enumerations; an enumeration without one stops the generator, so a
# new public type is named on purpose.
ENUM_NAMES = {
    "QRT_STATUS_TYPE": "Status",
    "QRT_FEATURE_TYPE": "Feature",
    "QRT_PRODUCT_TYPE": "ProductType",
    "QRT_POEPROPERTY_TYPE": "PoEProperty",
    "QRT_POEPORTPROPERTY_TYPE": "PoEPortProperty",
    "QRT_EDGETRIGGER_TYPE": "Edge",
    "QRT_DIOCAPABILITY_TYPE": "DioCapability",
    "QRT_DIODICAPABILITY_TYPE": "DICapability",
    "QRT_DIODOCAPABILITY_TYPE": "DOCapability",
}


class ApiError(Exception):
    pass


def strip_comments(text: str) -> str:
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def split_top_level(text: str, separator: str = ",") -> list[str]:
    """Splits at separators outside parentheses."""
    parts, depth, current = [], 0, ""
    for char in text:
        if char == "(":
            depth += 1
        elif char == ")":
            depth -= 1
        if char == separator and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += char
    if current.strip():
        parts.append(current.strip())
    return parts


def c_type(text: str) -> str:
    """One spelling per type: 'unsigned' is 'unsigned int', pointers are written 'T*'."""
    text = re.sub(r"\s*\*\s*", "*", text.strip())
    text = re.sub(r"\s+", " ", text)
    text = re.sub(r"\bunsigned(?! int| long| char)", "unsigned int", text)
    return text


def parameter(text: str) -> tuple[str, str]:
    """'unsigned int* n' -> ('unsigned int*', 'n'); 'void' alone is no parameter."""
    match = re.fullmatch(r"(.*?[\s*])(\w+)", text.strip())
    if not match:
        raise ApiError(f"cannot read the parameter {text!r}")
    return c_type(match.group(1)), match.group(2)


def parameters(text: str) -> tuple[tuple[str, str], ...]:
    text = text.strip()
    if text in ("", "void"):
        return ()
    return tuple(parameter(p) for p in split_top_level(text))


def read_enums(types_h: str) -> list[tuple[str, str, list[tuple[str, int]]]]:
    enums = []
    # "typedef enum QRT_ENUM_BASE {": the base (int) is given to C++ only.
    pattern = r"typedef\s+enum\s*(?:QRT_ENUM_BASE\s*)?\{(.*?)\}\s*(\w+)\s*;"
    for body, c_name in re.findall(pattern, types_h, re.S):
        if c_name not in ENUM_NAMES:
            raise ApiError(f"{c_name} has no Python name in generate_api.py")
        members = []
        for item in split_top_level(body):
            name, _, value = (s.strip() for s in item.partition("="))
            members.append((name, int(value, 0)))
        enums.append((c_name, ENUM_NAMES[c_name], members))
    return enums


def member_names(members: list[tuple[str, int]]) -> list[str]:
    """Enumerators without the prefix they all share (QRT_PRODUCT_W504 -> W504)."""
    names = [name for name, _ in members]
    prefix = names[0]
    for name in names[1:]:
        while not name.startswith(prefix):
            prefix = prefix[: prefix.rstrip("_").rfind("_") + 1]
    return [name[len(prefix):] for name in names]


def read_callbacks(types_h: str) -> dict[str, tuple[str, tuple[str, ...]]]:
    found = re.findall(r"typedef\s+(\w+)\s*\(\s*\*\s*(\w+)\s*\)\s*\((.*?)\)\s*;", types_h, re.S)
    return {
        name: (c_type(result), tuple(t for t, _ in parameters(params)))
        for result, name, params in found
    }


def read_lookups(lookup_h: str) -> dict[str, str]:
    """Component lookup -> feature enumerator, from the X-macro list of lookups."""
    return dict(re.findall(r"X\(\s*(\w+)\s*,\s*(\w+)\s*,\s*\w+\s*\)", lookup_h))


def read_component_functions(definitions: str) -> list[tuple[str, str, tuple]]:
    functions = []
    for args in re.findall(r"^QRT_COMPONENT_FUNCTION\((.*)\)\s*$", definitions, re.M):
        fields = split_top_level(args)
        if len(fields) != 6:
            raise ApiError(f"a list line without six fields: {args}")
        name, lookup, _operation, params = fields[:4]
        functions.append((name, lookup, parameters(params[1:-1])))
    if not functions:
        raise ApiError("no QRT_COMPONENT_FUNCTION lines")
    return functions


def read_declarations(header: str) -> list[tuple[str, str, tuple]]:
    declarations = []
    for result, name, params in re.findall(r"QRT_API\s+([\w\s*]+?)\s*\b(QRT_\w+)\s*\(([^)]*)\)\s*;",
                                           strip_comments(header)):
        declarations.append((name, c_type(result), parameters(params)))
    return declarations


def build_table(api: pathlib.Path) -> tuple[list, dict, list]:
    types_h = strip_comments((api / "QRT_Types.h").read_text())
    enums = read_enums(types_h)
    callbacks = read_callbacks(types_h)
    features = {name: value for c_name, _, members in enums if c_name == "QRT_FEATURE_TYPE"
                for name, value in members}
    lookups = read_lookups(strip_comments((api / "QRT_ComponentLookup.h").read_text()))
    listed = read_component_functions((api / "QRT_ComponentFunctions.def").read_text())
    declared = {name: (result, params)
                for name, result, params in read_declarations((api / "QRT_SDK.h").read_text())}

    functions = []
    for name, lookup, params in listed:
        if lookup not in lookups:
            raise ApiError(f"{name}: unknown component lookup {lookup}")
        if name not in declared:
            raise ApiError(f"{name} is in the function list but not in QRT_SDK.h")
        header_types = tuple(t for t, _ in declared[name][1])
        if header_types != tuple(t for t, _ in params) or declared[name][0] != "int":
            raise ApiError(f"{name}: QRT_SDK.h declares {declared[name]}, the list {params}")
        functions.append((name, "int", params, features[lookups[lookup]]))
    listed_names = {name for name, _, _ in listed}
    product_functions = [(name, result, params, None)
                         for name, (result, params) in declared.items() if name not in listed_names]
    return product_functions + functions, callbacks, enums


def render(api: pathlib.Path) -> str:
    functions, callbacks, enums = build_table(api)
    out = [
        '"""The C API of libQRT_SDK as data: generated by python/generate_api.py from the',
        "function list, the component lookups, the public header and the public types.",
        'Do not edit; rebuild instead."""',
        "",
        "from enum import IntEnum",
        "from typing import NamedTuple, Optional, Tuple",
        "",
        "",
        "class Function(NamedTuple):",
        '    """One exported function: C result type, (C type, name) per parameter, and the',
        '    feature number of the component it reaches (None for library and product calls)."""',
        "",
        "    name: str",
        "    result: str",
        "    parameters: Tuple[Tuple[str, str], ...]",
        "    feature: Optional[int]",
        "",
    ]
    for c_name, py_name, members in enums:
        out += ["", f"class {py_name}(IntEnum):", f'    """{c_name}"""', ""]
        for short, (_, value) in zip(member_names(members), members):
            out.append(f"    {short} = {value:#x}" if value > 255 else f"    {short} = {value}")
        out.append("")
    out += ["", "CALLBACKS = {"]
    out += [f"    {name!r}: {signature!r}," for name, signature in callbacks.items()]
    out += ["}", "", "FUNCTIONS = ("]
    out += [f"    Function({name!r}, {result!r}, {params!r}, {feature!r}),"
            for name, result, params, feature in functions]
    out += [")", ""]
    return "\n".join(out)


def main(argv: list[str]) -> int:
    if len(argv) != 3:
        print(__doc__.rstrip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    try:
        text = render(pathlib.Path(argv[1]))
    except (ApiError, OSError) as error:
        print(f"generate_api.py: {error}", file=sys.stderr)
        return 1
    output = pathlib.Path(argv[2])
    # Rewritten only when it changes, so that builds that change nothing touch nothing.
    if not output.exists() or output.read_text() != text:
        output.parent.mkdir(parents=True, exist_ok=True)
        output.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

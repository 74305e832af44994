"""The binding's table of the C API against the library and the files it is generated from."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import qrt
from qrt import _api
from qrt.errors import error_for

PYTHON = pathlib.Path(__file__).resolve().parents[1]
API = PYTHON.parent / "api"


def test_binding_functions_are_the_exported_ones():
    library = os.environ.get("QRT_SDK_LIBRARY")
    if not library:
        pytest.skip("QRT_SDK_LIBRARY is not set: run these through ctest (python.binding)")
    nm = os.environ.get("QRT_TEST_NM") or "nm"
    symbols = subprocess.run([nm, "-D", "--defined-only", library], check=True,
                             capture_output=True, text=True).stdout.split()
    exported = {s for s in symbols if s.startswith("QRT_")}
    assert {f.name for f in _api.FUNCTIONS} == exported
    bound = qrt.library()
    assert all(len(getattr(bound, f.name).argtypes) == len(f.parameters) for f in _api.FUNCTIONS)


@pytest.mark.parametrize("header, change", [
    ("QRT_SDK.h", ("GetPortEnable(void* handle, int*", "GetPortEnable(void* handle, unsigned*")),
    ("QRT_ComponentFunctions.def", ("\nQRT_COMPONENT_FUNCTION(", "\nQRT_COMPONENT_FUNCTION(QRT_No, "
                                    "__GetQRTPowCtrlHandle, x, (void* h), (), 0)\n"
                                    "QRT_COMPONENT_FUNCTION(")),
    ("QRT_Types.h", ("} QRT_FEATURE_TYPE;", "} QRT_FEATURE_TYPE;\ntypedef enum { QRT_X = 0 } "
                     "QRT_NEW_TYPE;")),
])
def test_generator_stops_on_a_disagreement(tmp_path, header, change):
    api = tmp_path / "api"
    shutil.copytree(API, api)
    text = (api / header).read_text()
    assert change[0] in text
    (api / header).write_text(text.replace(change[0], change[1], 1))
    done = subprocess.run([sys.executable, str(PYTHON / "generate_api.py"), str(api),
                           str(tmp_path / "_api.py")], capture_output=True, text=True)
    assert done.returncode == 1 and not (tmp_path / "_api.py").exists(), done.stderr


def test_every_status_has_its_exception():
    classes = {code: type(error_for(code)) for code in [*qrt.Status, -7]}
    assert {int(c): cls.__name__ for c, cls in classes.items() if c} == {
        -1: "QrtFailedError", -5: "QrtNotSupportedError", -11: "QrtInvalidParamError",
        -13: "QrtNotInitializedError", -100: "QrtBusyError", -7: "QrtError"}
    assert all(issubclass(cls, qrt.QrtError) and error_for(code).code == code
               for code, cls in classes.items())

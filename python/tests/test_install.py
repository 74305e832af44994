"""The package as users install it: by `cmake --install` beside the library, and by pip from
a source checkout. Either loads a library and lists the rig's products."""

import os
import pathlib
import shutil
import subprocess
import sys

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
PROBE = "import qrt; print(qrt.library().path); print([p.model for p in qrt.products()])"


def installed(tmp_path, how):
    build = os.environ.get("QRT_TEST_BUILD_DIR")
    if not build or not os.environ.get("QRT_SIM"):
        pytest.skip("run through ctest (python.binding)")
    prefix = tmp_path / "prefix"
    if how == "cmake":
        for component in ("runtime", "python"):
            subprocess.run([os.environ.get("QRT_TEST_CMAKE", "cmake"), "--install", build,
                            "--prefix", str(prefix), "--component", component],
                           check=True, capture_output=True)
        return {}, next(prefix.rglob("qrt/__init__.py")).parent.parent
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("no pip for this Python")
    checkout = tmp_path / "checkout"  # pip builds in the tree it is given
    for folder in ("api", "python"):
        shutil.copytree(SOURCE / folder, checkout / folder,
                        ignore=shutil.ignore_patterns("__pycache__", "_api.py", "tests"))
    subprocess.run([sys.executable, "-m", "pip", "install", "-q", "--no-build-isolation",
                    "--no-deps", "--no-index", "--target", str(prefix), str(checkout / "python")],
                   check=True, capture_output=True)
    library = pathlib.Path(os.environ["QRT_SDK_LIBRARY"]).parent
    return {"LD_LIBRARY_PATH": str(library)}, prefix


@pytest.mark.parametrize("how", ["cmake", "pip"])
def test_installed_package_loads_and_lists(tmp_path, how):
    extra, site = installed(tmp_path, how)
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("QRT_SDK_LIBRARY", "PYTHONPATH", "LD_LIBRARY_PATH")}
    environment.update(extra, PYTHONPATH=str(site))
    done = subprocess.run([os.environ["QRT_SIM"], "--skip-pauses", "--", sys.executable, "-c",
                           PROBE], capture_output=True, text=True, env=environment, check=True,
                          cwd=tmp_path)  # not a folder that has a package qrt
    path, models = done.stdout.splitlines()
    assert path.startswith(str(tmp_path)) if how == "cmake" else (path == "libQRT_SDK.so.1")
    assert models == "['PCIe-W504', 'PCIe-RHX54P']"
    assert (site / "qrt" / "py.typed").exists() and (site / "qrt" / "_api.py").exists()

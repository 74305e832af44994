"""Builds the package with its table of the C API (qrt/_api.py), generated from the SDK's
function list and public headers in ../api, which a source checkout has beside this folder."""

import pathlib
import sys

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = pathlib.Path(__file__).resolve().parent


class BuildWithApiTable(build_py):
    def run(self):
        super().run()
        api = HERE.parent / "api"
        if not (api / "QRT_ComponentFunctions.def").exists():
            sys.exit(f"setup.py: the SDK's api folder is not at {api}; install from a source "
                     "checkout (pip install ./python) or with cmake --install")
        sys.path.insert(0, str(HERE))
        import generate_api

        status = generate_api.main(["generate_api.py", str(api),
                                    str(pathlib.Path(self.build_lib) / "qrt" / "_api.py")])
        if status != 0:
            sys.exit(status)


setup(cmdclass={"build_py": BuildWithApiTable})

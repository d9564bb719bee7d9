# SPDX-License-Identifier: Apache-2.0
"""The build backend of this package: the setuptools already installed beside the Python that
runs the build, and nothing fetched.

pip builds a package in an environment of its own, holding only what the package asks for;
asking for setuptools would make pip download it. This backend asks for nothing and takes the
setuptools (and wheel, which older setuptools builds wheels with) of the running Python, or of
the Python a virtual environment was made from, as a Debian system provides them
(python3-setuptools, python3-wheel), so that `pip install service/client` works offline.
"""

import site
import sys

for _folder in site.getsitepackages() + site.getsitepackages([sys.base_prefix]):
    if _folder not in sys.path:
        sys.path.append(_folder)

_NEEDED = ("building fiscal-printd needs setuptools 61 or later installed beside Python "
           "(Debian: apt install python3-setuptools python3-wheel)")
try:
    import setuptools
    from setuptools import build_meta as _setuptools
except ImportError as _missing:
    raise ImportError(_NEEDED) from _missing
if int(setuptools.__version__.split(".")[0]) < 61:  # it reads the metadata of pyproject.toml
    raise ImportError(_NEEDED + f"; this one is {setuptools.__version__}")

build_wheel = _setuptools.build_wheel
build_sdist = _setuptools.build_sdist
prepare_metadata_for_build_wheel = _setuptools.prepare_metadata_for_build_wheel
if hasattr(_setuptools, "build_editable"):
    build_editable = _setuptools.build_editable
    prepare_metadata_for_build_editable = _setuptools.prepare_metadata_for_build_editable


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []

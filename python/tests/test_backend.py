"""The build backend of pip install . without building: it reads
pyproject.toml alike with and without tomllib, states the project's version
and this interpreter's wheel tag, asks for nothing to install, and packs the
sources. (pip_install_test.sh builds and installs.)"""
import importlib.util
import os
import re
import sysconfig
import tarfile

import pytest

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


@pytest.fixture(scope="module")
def backend():
    path = os.path.join(SOURCE, "python", "backend", "seqcorvane_backend.py")
    spec = importlib.util.spec_from_file_location("seqcorvane_backend", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_metadata_from_pyproject_and_cmake(backend, monkeypatch, tmp_path):
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        version = re.search(r"project\(seqcorvane VERSION ([0-9.]+)", f.read()).group(1)
    assert backend.get_requires_for_build_wheel() == [] and backend.get_requires_for_build_sdist() == []
    with open(os.path.join(SOURCE, "pyproject.toml")) as f:
        text = f.read()
    parsed = backend._toml_tables(text)
    assert parsed["build-system"] == {"requires": [], "build-backend": "seqcorvane_backend",
                                      "backend-path": ["python/backend"]}
    # The reader of Python 3.9 and 3.10 (no tomllib) reads the same.
    import builtins
    real_import = builtins.__import__

    def without_tomllib(name, *args, **kwargs):
        if name == "tomllib":
            raise ImportError(name)
        return real_import(name, *args, **kwargs)

    monkeypatch.setattr(builtins, "__import__", without_tomllib)
    assert backend._toml_tables(text) == parsed
    monkeypatch.undo()
    name = backend.prepare_metadata_for_build_wheel(str(tmp_path))
    assert name == f"seqcorvane-{version}.dist-info"
    metadata = (tmp_path / name / "METADATA").read_text()
    assert metadata.startswith(f"Metadata-Version: 2.1\nName: seqcorvane\nVersion: {version}\n")
    assert "Requires-Python: >=3.9\n" in metadata
    wheel = (tmp_path / name / "WHEEL").read_text()
    assert f"Tag: {backend._tag()}\n" in wheel and "Root-Is-Purelib: false\n" in wheel
    assert (tmp_path / name / "entry_points.txt").read_text() == \
        "[console_scripts]\nseqcorvane-explore = seqcorvane.explore:main\n"


def test_the_wheel_tag_is_this_interpreters(backend):
    python, abi, platform = backend._tag().split("-")
    suffix = sysconfig.get_config_var("EXT_SUFFIX")  # e.g. .cpython-311-x86_64-linux-gnu.so
    assert python == "cp" + suffix.split("-")[1] and abi.startswith(python)
    assert platform == sysconfig.get_platform().replace("-", "_").replace(".", "_")


def test_the_sdist_holds_the_sources(backend, tmp_path):
    name = backend.build_sdist(str(tmp_path))
    with tarfile.open(tmp_path / name) as tar:
        names = set(tar.getnames())
    base = name[:-len(".tar.gz")]
    for f in ("pyproject.toml", "CMakeLists.txt", "python/module.cpp", "python/backend/seqcorvane_backend.py",
              "data/DirichletPriorsGivenN.txt", "PKG-INFO"):
        assert f"{base}/{f}" in names, f
    assert not any("/build/" in n or n.endswith(".pyc") for n in names)

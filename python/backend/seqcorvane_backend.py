"""The build backend of `pip install .` (PEP 517), kept in the project's own
tree so that it needs no package index: the standard library, cmake and a
C++ compiler with zlib's and pybind11's headers (Debian: cmake g++
zlib1g-dev pybind11-dev) are all it uses.

A wheel is built by the project's CMake for the interpreter that runs this
backend (the one that runs pip, a virtualenv's included), with that
interpreter's headers: only the module's target is built, and CMake's
install component "wheel" lays out the package with the model data inside
it (python/CMakeLists.txt); the layout is then packed as a wheel.

Settings, as pip's --config-settings KEY=VALUE or from the environment:
  build-dir   SEQCORVANE_BUILD_DIR   keep the CMake build in this directory
                                     (a subdirectory per interpreter) and
                                     reuse it; default: a temporary one
  cmake-args  SEQCORVANE_CMAKE_ARGS  more arguments to CMake's configure step
  jobs        CMAKE_BUILD_PARALLEL_LEVEL  compilers at once (default: the cores)
"""
import base64
import hashlib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAME = "seqcorvane"


# ---- the project's metadata: pyproject.toml's [project], the version from CMake ----

def _toml_tables(text):
    """The tables of a TOML text, for the part of TOML that pyproject.toml
    uses here: [table] headers and key = value lines, each value a string or
    an array of strings on one line (tomllib reads it where Python has it)."""
    try:
        import tomllib
    except ImportError:
        tomllib = None
    if tomllib is not None:
        return tomllib.loads(text)
    tables, table = {}, {}
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        header = re.fullmatch(r"\[([A-Za-z0-9_.-]+)\]", line)
        if header:
            table = tables
            for part in header.group(1).split("."):
                table = table.setdefault(part, {})
            continue
        key, sep, value = line.partition("=")
        if not sep:
            raise ValueError(f"pyproject.toml, line {number}: not a key = value line")
        key = key.strip().strip('"')
        table[key] = json.loads(value.strip())
    return tables


def _project():
    with open(os.path.join(ROOT, "pyproject.toml"), encoding="utf-8") as f:
        return _toml_tables(f.read())["project"]


def _version():
    """The project's version, as CMakeLists.txt's project() states it."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        m = re.search(r"project\(\s*seqcorvane\s+VERSION\s+([0-9.]+)", f.read())
    if not m:
        raise RuntimeError("CMakeLists.txt states no version in project(seqcorvane VERSION ...)")
    return m.group(1)


def _metadata():
    """The METADATA (core metadata 2.1) of the distribution."""
    p = _project()
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {_version()}"]
    if "description" in p:
        lines.append(f"Summary: {p['description']}")
    if "requires-python" in p:
        lines.append(f"Requires-Python: {p['requires-python']}")
    for extra, requirements in p.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {r}; extra == "{extra}"' for r in requirements]
    for key, url in p.get("urls", {}).items():
        lines.append(f"Project-URL: {key}, {url}")
    return "\n".join(lines) + "\n"


def _entry_points():
    scripts = _project().get("scripts", {})
    if not scripts:
        return ""
    return "[console_scripts]\n" + "".join(f"{k} = {v}\n" for k, v in scripts.items())


def _dist_info():
    return f"{NAME}-{_version()}.dist-info"


# ---- the wheel's tag: this interpreter and platform ----

def _tag():
    version = f"{sys.version_info[0]}{sys.version_info[1]}"
    if sys.implementation.name == "cpython":
        python, abi = f"cp{version}", f"cp{version}{getattr(sys, 'abiflags', '')}"
    else:  # the ABI as the interpreter names its extensions, e.g. pypy39-pp73 as pypy39_pp73
        soabi = sysconfig.get_config_var("SOABI") or ""
        python = {"pypy": "pp"}.get(sys.implementation.name, sys.implementation.name) + version
        abi = "_".join(soabi.split("-")[:2]) or "none"
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{abi}-{platform}"


# ---- building ----

def _setting(settings, key, variable):
    value = (settings or {}).get(key)
    return value if value not in (None, "") else os.environ.get(variable, "")


def _run(command, cwd=None):
    print("seqcorvane build:", " ".join(shlex.quote(c) for c in command), file=sys.stderr, flush=True)
    try:
        subprocess.run(command, cwd=cwd, check=True, stdout=sys.stderr)
    except FileNotFoundError:
        raise RuntimeError(f"building seqcorvane needs {command[0]}: on Debian or Ubuntu, "
                           "apt-get install cmake g++ zlib1g-dev pybind11-dev (and the Python headers, "
                           "python3-dev, for Debian's Python)") from None
    except subprocess.CalledProcessError as e:
        raise RuntimeError(f"building seqcorvane failed: {command[0]} exited with status {e.returncode} "
                           "(its output is above)") from None


def _build(staging, settings):
    """Builds the module for this interpreter and installs the wheel's layout into staging."""
    cmake = shutil.which("cmake")
    if cmake is None:
        _run(["cmake"])  # the error that names what to install
    kept = _setting(settings, "build-dir", "SEQCORVANE_BUILD_DIR")
    temporary = None
    if kept:
        # One build per interpreter: a virtualenv made again from the same
        # Python finds its build.
        key = hashlib.sha256(os.path.realpath(sys.base_prefix).encode()).hexdigest()[:10]
        build = os.path.join(os.path.abspath(kept), f"{_tag()}-{key}")
    else:
        temporary = build = tempfile.mkdtemp(prefix="seqcorvane-build-")
    try:
        _run([cmake, "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DSEQCORVANE_TESTS=OFF",
              "-DSEQCORVANE_PYTHON=ON", f"-DPython_EXECUTABLE={sys.executable}"]
             + shlex.split(_setting(settings, "cmake-args", "SEQCORVANE_CMAKE_ARGS")))
        jobs = _setting(settings, "jobs", "CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        _run([cmake, "--build", build, "--target", "_seqcorvane", "--parallel", jobs])
        _run([cmake, "--install", build, "--component", "wheel", "--prefix", staging])
    finally:
        if temporary:
            shutil.rmtree(temporary, ignore_errors=True)


def _write_dist_info(directory):
    info = os.path.join(directory, _dist_info())
    os.makedirs(info, exist_ok=True)
    files = {"METADATA": _metadata(), "WHEEL": f"Wheel-Version: 1.0\nGenerator: {NAME} build backend\n"
             f"Root-Is-Purelib: false\nTag: {_tag()}\n"}
    if _entry_points():
        files["entry_points.txt"] = _entry_points()
    for name, text in files.items():
        with open(os.path.join(info, name), "w", encoding="utf-8") as f:
            f.write(text)
    return os.path.basename(info)


def _digest(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()


def _pack(staging, wheel_path):
    """The wheel of the layout in staging, with its RECORD."""
    record_name = f"{_dist_info()}/RECORD"
    paths = []
    for top, dirs, files in os.walk(staging):
        dirs[:] = sorted(d for d in dirs if d != "__pycache__")
        paths += sorted(os.path.relpath(os.path.join(top, f), staging).replace(os.sep, "/") for f in files)
    # The dist-info last, as wheels conventionally end.
    paths.sort(key=lambda p: (p.startswith(_dist_info() + "/"), p))
    record = []
    with zipfile.ZipFile(wheel_path, "w", zipfile.ZIP_DEFLATED) as z:
        for path in paths:
            if path == record_name:
                continue
            with open(os.path.join(staging, path), "rb") as f:
                data = f.read()
            info = zipfile.ZipInfo(path, date_time=(2020, 1, 1, 0, 0, 0))
            mode = os.stat(os.path.join(staging, path)).st_mode
            info.external_attr = (mode & 0o777 | 0o100000) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data)
            record.append(f"{path},{_digest(data)},{len(data)}")
        record.append(f"{record_name},,")
        z.writestr(zipfile.ZipInfo(record_name, date_time=(2020, 1, 1, 0, 0, 0)), "\n".join(record) + "\n")


# ---- the hooks of PEP 517 ----

def get_requires_for_build_wheel(config_settings=None):
    """Nothing to install before building: the backend uses the standard library only."""
    return []


def get_requires_for_build_sdist(config_settings=None):
    """Nothing to install before packing the sources."""
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    """The dist-info directory of the wheel, without building it."""
    return _write_dist_info(metadata_directory)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    """Builds the module for this interpreter and packs the package, the
    module and the model data as a wheel in wheel_directory."""
    name = f"{NAME}-{_version()}-{_tag()}.whl"
    with tempfile.TemporaryDirectory(prefix="seqcorvane-wheel-") as staging:
        _build(staging, config_settings)
        _write_dist_info(staging)
        os.makedirs(wheel_directory, exist_ok=True)
        _pack(staging, os.path.join(wheel_directory, name))
    return name


def _source_files():
    """The files of the source tree: those git tracks or would (not ignored), else every file but builds
    and caches."""
    if os.path.exists(os.path.join(ROOT, ".git")) and shutil.which("git"):
        listed = ["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"]
        out = subprocess.run(listed, cwd=ROOT, capture_output=True, check=True).stdout
        return sorted(p for p in out.decode().split("\0") if p and os.path.isfile(os.path.join(ROOT, p)))
    files = []
    for top, dirs, names in os.walk(ROOT):
        dirs[:] = [d for d in dirs if not (d.startswith("build") or d in (".git", "__pycache__", "node_modules"))]
        files += [os.path.relpath(os.path.join(top, n), ROOT) for n in names]
    return sorted(files)


def build_sdist(sdist_directory, config_settings=None):
    """The source tree as seqcorvane-VERSION.tar.gz in sdist_directory, with its PKG-INFO."""
    base = f"{NAME}-{_version()}"
    os.makedirs(sdist_directory, exist_ok=True)
    with tarfile.open(os.path.join(sdist_directory, base + ".tar.gz"), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        for path in _source_files():
            tar.add(os.path.join(ROOT, path), arcname=f"{base}/{path}", recursive=False)
        with tempfile.NamedTemporaryFile("w", encoding="utf-8", delete=False) as f:
            f.write(_metadata())
        try:
            tar.add(f.name, arcname=f"{base}/PKG-INFO")
        finally:
            os.unlink(f.name)
    return base + ".tar.gz"

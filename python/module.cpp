// The Python module's compiled part: the public API, converted at its edges
// (sequences and rows as str, results as read-only objects, errors as Python
// exceptions). Alignments run without the global interpreter lock. The
// package around it (seqcorvane/__init__.py) takes what users hand it, checks
// the parameters and names them in its errors.
#include <pybind11/stl.h>

#include <exception>
#include <filesystem>

#include "bindings.h"
#include "environment.h"

namespace seqcorvane::python {

namespace {

[[noreturn]] void throwInternal(const std::string& message) { throw InternalCheck{message}; }

py::exception<Error>* modelErrorClass = nullptr;

// A directory's path from str, bytes or os.PathLike, in the file system's encoding.
std::string pathOf(const py::object& dir) {
  PyObject* path = PyOS_FSPath(dir.ptr());
  if (path == nullptr) {
    PyErr_Clear();
    throw py::type_error("data_dir is the path of a directory of model files (str or os.PathLike) or None, not " +
                         std::string(Py_TYPE(dir.ptr())->tp_name));
  }
  py::object fspath = py::reinterpret_steal<py::object>(path);
  py::bytes encoded = PyBytes_Check(path) ? py::reinterpret_borrow<py::bytes>(fspath)
                                          : py::reinterpret_steal<py::bytes>(PyUnicode_EncodeFSDefault(path));
  if (!encoded) throw py::error_already_set();
  std::string text = encoded;
  if (text.find('\0') != std::string::npos) throw py::value_error("data_dir holds a NUL character");
  return text;
}

Models loadModels(const std::string& dir) {
  py::gil_scoped_release release;
  return Models(dir);
}

}  // namespace

PyObject* exceptionOf(Error::Kind kind) {
  switch (kind) {
    case Error::Kind::input:
      return PyExc_ValueError;
    case Error::Kind::model:
      return modelErrorClass->ptr();
    case Error::Kind::output:
      return PyExc_OSError;
    case Error::Kind::resources:
      return PyExc_MemoryError;
  }
  return PyExc_RuntimeError;
}

void setPythonError(PyObject* type, const std::string& message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "backslashreplace");
  if (text == nullptr) {
    PyErr_Clear();
    text = PyUnicode_FromString("(a message that cannot be shown)");
  }
  PyErr_SetObject(type, text);
  Py_XDECREF(text);
}

Criterion criterionOf(const std::string& name) {
  Criterion c;
  if (!parseCriterion(name, c))
    throw py::value_error("criterion is 'optimal', 'marginal' or 'posterior', not '" + name + "'");
  return c;
}

Hypothesis modeOf(const std::string& name) {
  Hypothesis h;
  if (!parseHypothesis(name, h)) throw py::value_error("mode is 'global', 'local' or 'auto', not '" + name + "'");
  return h;
}

AlignConfig configOf(const std::string& criterion, bool confidence, int threads, bool endGapsAlike,
                     const std::string& mode) {
  AlignConfig config;
  shell::settingsFromEnvironment(config);  // SEQCORVANE_THREADS and SEQCORVANE_SIMD, as the programs
  config.criterion = criterionOf(criterion);
  config.mode = modeOf(mode);
  config.columnConfidence = confidence;
  if (threads > 0) config.threads = threads;
  config.posterior.endGapsAlike = endGapsAlike;
  return config;
}

// Problems raised as Python exceptions: the library's errors by their kind,
// a broken invariant as RuntimeError rather than the end of the interpreter;
// every message decoded so that no byte of it is lost.
void bindErrors(py::module_& m) {
  setCheckHandler(throwInternal);
  static py::exception<Error> modelError(m, "ModelError", PyExc_RuntimeError);
  modelError.doc() = "The model files are missing, malformed or fail their sense checks.";
  modelErrorClass = &modelError;
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const Error& e) {
      setPythonError(exceptionOf(e.kind()), e.what());
    } catch (const InternalCheck& e) {
      setPythonError(PyExc_RuntimeError, "internal check failed: " + e.message);
    }
  });
}

void bindModels(py::module_& m) {
  py::class_<Models>(m, "Models",
                     "The model files of a directory, loaded and checked once; immutable, share it freely (threads, "
                     "calls). Models() finds them as the programs do; pickled, it is loaded again from its directory.")
      .def(py::init([](const py::object& dir) { return loadModels(dir.is_none() ? std::string() : pathOf(dir)); }),
           py::arg("data_dir") = py::none(),
           "Loads the models of data_dir (str or os.PathLike), or, when None, of the first directory holding "
           "them. Raises ModelError when they are missing or malformed.")
      .def_property_readonly("directory", &Models::directory, "The directory the model files came from.")
      .def_property_readonly("digest", &Models::digest,
                             "A digest of the files' contents (16 hexadecimal digits): equal digests, the same models.")
      .def(
          "__eq__",
          [](const Models& a, const py::object& b) -> py::object {
            if (!py::isinstance<Models>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            return py::bool_(a.digest() == b.cast<const Models&>().digest());
          },
          py::is_operator(), "Models of the same contents are equal.")
      .def("__hash__", [](const Models& x) { return py::hash(py::str(x.digest())); })
      .def(py::pickle(
          [](const Models& x) {
            return py::make_tuple(std::filesystem::absolute(x.directory()).lexically_normal().string());
          },
          [](const py::tuple& state) { return loadModels(state[0].cast<std::string>()); }))
      .def("__repr__", [](const Models& x) { return "Models('" + x.directory() + "')"; });
}

// The calls under the package's functions, which check and convert their
// arguments first.
void bindCalls(py::module_& m) {
  m.def(
      "_align",
      [](const std::string& nameS, const std::string& s, const std::string& nameT, const std::string& t,
         const Models& models, const std::string& criterion, bool confidence, int threads, bool endGapsAlike,
         const std::string& mode) {
        const AlignConfig config = configOf(criterion, confidence, threads, endGapsAlike, mode);
        py::gil_scoped_release release;
        return align({nameS, s}, {nameT, t}, models, config);
      },
      py::arg("name_s"), py::arg("s"), py::arg("name_t"), py::arg("t"), py::arg("models"), py::arg("criterion"),
      py::arg("confidence"), py::arg("threads"), py::arg("end_gaps_alike"), py::arg("mode") = "global",
      "The result of one pair of residue strings (seqcorvane.align checks and filters them first).");
  m.def(
      "_score",
      [](const std::string& rowS, const std::string& rowT, const Models& models, const std::string& mode) {
        const Hypothesis h = modeOf(mode);
        py::gil_scoped_release release;
        return scoreAlignment(rowS, rowT, models, h);
      },
      py::arg("row_s"), py::arg("row_t"), py::arg("models"), py::arg("mode") = "global",
      "The message length of two gapped rows (seqcorvane.score checks and filters them first).");
}

}  // namespace seqcorvane::python

PYBIND11_MODULE(_seqcorvane, m) {
  namespace sp = seqcorvane::python;
  m.doc() = "SeqCorvane's library: pairwise protein alignment in the Minimum Message Length framework";
  sp::bindErrors(m);
  m.attr("__version__") = seqcorvane::version();

  sp::bindModels(m);
  sp::bindResults(m);
  sp::bindCalls(m);
  sp::bindStream(m);
  sp::bindExplorer(m);
}

// The parts of the Python module's compiled part (_seqcorvane), each binding
// a piece of the public API; the module's entry (module.cpp) calls them.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::python {

namespace py = pybind11;

// A broken invariant inside the library, raised as RuntimeError rather than
// ending the interpreter.
struct InternalCheck {
  std::string message;
};

// The Python exception class of each kind of the library's errors.
PyObject* exceptionOf(Error::Kind kind);
// Raises the message as an exception of the class: the text decoded as
// UTF-8, bytes that are not shown as \xNN escapes, never lost.
void setPythonError(PyObject* type, const std::string& message);

// The criterion of its name; ValueError naming the parameter otherwise.
Criterion criterionOf(const std::string& name);
// The hypothesis of its name ("global", "local", "auto"); ValueError naming the parameter otherwise.
Hypothesis modeOf(const std::string& name);
// The configuration of one call (the environment's settings first, as the programs read them).
AlignConfig configOf(const std::string& criterion, bool confidence, int threads, bool endGapsAlike,
                     const std::string& mode);

void bindErrors(py::module_& m);
void bindModels(py::module_& m);
void bindResults(py::module_& m);  // Result and Score: properties, equality, pickling
void bindCalls(py::module_& m);
void bindStream(py::module_& m);  // many pairs on worker threads, handed back in order
void bindExplorer(py::module_& m);

}  // namespace seqcorvane::python

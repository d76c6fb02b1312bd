// Exploring a pair from Python: the landscape at a distance, the best
// alignments through cells, the column confidences of any alignment, and the
// readers the explorer's program uses.
#include <pybind11/stl.h>

#include <optional>

#include "bindings.h"
#include "environment.h"
#include "numbers.h"
#include "seqcorvane/explore.h"
#include "seqcorvane/io.h"

namespace seqcorvane::python {

// Exploring a pair: the landscape at a distance, the best alignments through
// cells, the column confidences of any alignment, and the readers the
// explorer's program uses. Computations run without the global interpreter lock.
namespace {

// The config of a call over one machine: the hypothesis of its name
// (ValueError for a name that is none; the library refuses "auto").
AlignConfig under(const std::string& mode, int threads = 0) {
  AlignConfig config;
  config.mode = modeOf(mode);
  config.threads = threads;
  return config;
}

// The best alignments through cells.
void bindCellPaths(py::module_& m) {
  py::class_<CellPaths::Through>(m, "Through", "The best alignment through a cell.")
      .def_readonly("path", &CellPaths::Through::path, "'m', 'd', 'i' per column")
      .def_readonly("msg_len", &CellPaths::Through::msgLen, "I(A,<S,T>) in nits")
      .def_property_readonly(
          "bits", [](const CellPaths::Through& x) { return nits2bits(x.msgLen); }, "I(A,<S,T>) in bits")
      .def("__repr__", [](const CellPaths::Through& x) {
        return "<Through " + std::to_string(x.path.size()) + " columns " + std::to_string(nits2bits(x.msgLen)) +
               " bits>";
      });
  py::class_<CellPaths>(m, "CellPaths",
                        "The best alignments through chosen cells at distance K (about 50 bytes a cell).")
      .def(py::init(
               [](const std::string& s, const std::string& t, int K, const Models& models, const std::string& mode) {
                 const AlignConfig config = under(mode);
                 py::gil_scoped_release release;
                 return CellPaths({"s", s}, {"t", t}, models, K, config);
               }),
           py::arg("s"), py::arg("t"), py::arg("K"), py::arg("models"), py::arg("mode") = "global",
           py::keep_alive<1, 5>(),  // the paths read the models as long as they live
           "The best paths of residue strings s and t at distance K (1..1000) under the models and the hypothesis "
           "(mode 'global' or 'local': then the best alignment whose region passes the cell).")
      .def("best", py::overload_cast<std::size_t, std::size_t>(&CellPaths::best, py::const_), py::arg("i"),
           py::arg("j"), py::call_guard<py::gil_scoped_release>(),
           "The best alignment through cell (i, j): i residues of S and j of T behind it.")
      .def("best", py::overload_cast<>(&CellPaths::best, py::const_), py::call_guard<py::gil_scoped_release>(),
           "The best alignment at K: through (0, 0) under the global hypothesis, the best of all regions under "
           "the local one.");
}

// The landscape at a distance, and the column confidences.
void bindLandscape(py::module_& m) {
  py::class_<Landscape>(m, "Landscape",
                        "The marginal landscape at distance K, in bits above the best cell (4 bytes a cell).")
      .def(py::init([](const std::string& s, const std::string& t, int K, const Models& models, int threads,
                       const std::string& mode) {
             const AlignConfig config = under(mode, threads > 0 ? threads : 1);
             py::gil_scoped_release release;
             return Landscape({"s", s}, {"t", t}, models, K, config);
           }),
           py::arg("s"), py::arg("t"), py::arg("K"), py::arg("models"), py::arg("threads") = 0,
           py::arg("mode") = "global",
           "The landscape of residue strings s and t at distance K (1..1000), on threads (0: the default), under "
           "the hypothesis (mode 'global' or 'local': then of the alignments whose region passes each cell).")
      .def_property_readonly(
          "shape", [](const Landscape& x) { return py::make_tuple(x.rows(), x.cols()); },
          "(|S| + 1, |T| + 1): the cells of the grid.")
      .def_property_readonly("K", &Landscape::distance, "The distance of the landscape.")
      .def_property_readonly(
          "mode", [](const Landscape& x) { return hypothesisName(x.hypothesis()); },
          "'global' or 'local': the hypothesis of the landscape.")
      .def_property_readonly("marginal_msg_len", &Landscape::marginalMsgLen,
                             "The message length of all alignments at K, in nits.")
      .def_property_readonly(
          "marginal_bits", [](const Landscape& x) { return nits2bits(x.marginalMsgLen()); },
          "The message length of all alignments at K, in bits.")
      .def_property_readonly("best_msg_len", &Landscape::bestMsgLen,
                             "The least message length of the alignments through any cell, in nits.")
      .def_property_readonly(
          "best_bits", [](const Landscape& x) { return nits2bits(x.bestMsgLen()); },
          "The least message length of the alignments through any cell, in bits.")
      .def("bits_above", &Landscape::bitsAbove, py::arg("i"), py::arg("j"),
           "The bits of all alignments through cell (i, j) above the best cell.")
      .def(
          "blocks",
          [](const Landscape& x, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1, std::size_t maxRows,
             std::size_t maxCols) {
            Landscape::Blocks r;
            {
              py::gil_scoped_release release;
              r = x.blocks(i0, i1, j0, j1, maxRows, maxCols);
            }
            return py::make_tuple(
                r.rows, r.cols,
                py::bytes(reinterpret_cast<const char*>(r.values.data()), r.values.size() * sizeof(float)));
          },
          py::arg("i0"), py::arg("i1"), py::arg("j0"), py::arg("j1"), py::arg("max_rows"), py::arg("max_cols"),
          "(rows, cols, bytes): the least value of each block, float32 in the machine's byte order, row by row.");
  py::class_<ColumnConfidence>(m, "ColumnConfidence",
                               "The posteriors at distance K of every pair of residues (4 bytes a cell).")
      .def(py::init(
               [](const std::string& s, const std::string& t, int K, const Models& models, const std::string& mode) {
                 const AlignConfig config = under(mode);
                 py::gil_scoped_release release;
                 return ColumnConfidence({"s", s}, {"t", t}, models, K, config);
               }),
           py::arg("s"), py::arg("t"), py::arg("K"), py::arg("models"), py::arg("mode") = "global",
           "The posteriors of residue strings s and t at distance K (1..1000) under the models and the hypothesis "
           "(mode 'global' or 'local').")
      .def("of", &ColumnConfidence::of, py::arg("path"), py::call_guard<py::gil_scoped_release>(),
           "The posterior of each column of the path.");
}

}  // namespace

void bindExplorer(py::module_& m) {
  bindCellPaths(m);
  bindLandscape(m);
  // The result under the hypothesis named, with its region.
  m.def(
      "_cell_alignment_result",
      [](const std::string& nameS, const std::string& s, const std::string& nameT, const std::string& t,
         const Models& models, int K, const std::string& path, double msgLen, double marginalMsgLen,
         const std::vector<double>& confidence, const std::string& mode) {
        return cellAlignmentResult({nameS, s}, {nameT, t}, models, K, path, msgLen, marginalMsgLen, confidence,
                                   under(mode));
      },
      py::arg("name_s"), py::arg("s"), py::arg("name_t"), py::arg("t"), py::arg("models"), py::arg("K"),
      py::arg("path"), py::arg("msg_len"), py::arg("marginal_msg_len"), py::arg("confidence"),
      py::arg("mode") = "global");
  m.def("_explorer_memory_needed", &explorerMemoryNeeded);
  m.def("_memory_available", &shell::memoryAvailable);
  m.def("_memory_text", &shell::memoryText);
  m.def("_read_fasta", [](const std::string& path) {
    std::size_t leading = 0;
    std::vector<Record> records;
    {
      py::gil_scoped_release release;
      records = readFasta(path, &leading);
    }
    py::list out;
    for (const auto& r : records) out.append(py::make_tuple(r.name, r.header, r.text));
    return py::make_tuple(out, leading);
  });
  m.def("_standard_residues", &standardResidues);
  m.def("_dropped_characters", &droppedCharacters);
}

}  // namespace seqcorvane::python

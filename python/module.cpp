// The Python module's compiled part: the public API, converted at its edges
// (sequences and rows as str, results as read-only objects, errors as Python
// exceptions). Alignments run without the global interpreter lock.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

#include "environment.h"
#include "numbers.h"
#include "seqcorvane/explore.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

namespace py = pybind11;
using seqcorvane::AlignResult;

namespace {

// A broken invariant inside the library, raised as RuntimeError rather than
// ending the interpreter.
struct InternalCheck {
  std::string message;
};
[[noreturn]] void throwInternal(const std::string& message) { throw InternalCheck{message}; }

seqcorvane::Criterion criterionOf(const std::string& name) {
  seqcorvane::Criterion c;
  if (!seqcorvane::parseCriterion(name, c))
    throw py::value_error("criterion is 'optimal', 'marginal' or 'posterior', not '" + name + "'");
  return c;
}

seqcorvane::AlignConfig configOf(const std::string& criterion, bool confidence, int threads, bool endGapsAlike) {
  seqcorvane::AlignConfig config;
  seqcorvane::shell::settingsFromEnvironment(config);  // SEQCORVANE_THREADS and SEQCORVANE_SIMD, as the programs
  config.criterion = criterionOf(criterion);
  config.columnConfidence = confidence;
  if (threads > 0) config.threads = threads;
  config.posterior.endGapsAlike = endGapsAlike;
  return config;
}

py::dict transitionsOf(const seqcorvane::Transitions& t) {
  static const char letter[3] = {'M', 'D', 'I'};
  py::dict d;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) d[py::str(std::string{letter[x], letter[y]})] = t[x][y];
  return d;
}

py::object bitsOrNone(double nits) {
  return std::isfinite(nits) ? py::object(py::float_(seqcorvane::nits2bits(nits))) : py::object(py::none());
}

// Problems raised as Python exceptions: the library's errors by their kind,
// a broken invariant as RuntimeError rather than the end of the interpreter.
void bindErrors(py::module_& m) {
  seqcorvane::setCheckHandler(throwInternal);
  static py::exception<seqcorvane::Error> modelError(m, "ModelError", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const seqcorvane::Error& e) {
      switch (e.kind()) {
        case seqcorvane::Error::Kind::input:
          PyErr_SetString(PyExc_ValueError, e.what());
          break;
        case seqcorvane::Error::Kind::model:
          modelError(e.what());
          break;
        case seqcorvane::Error::Kind::output:
          PyErr_SetString(PyExc_OSError, e.what());
          break;
        case seqcorvane::Error::Kind::resources:
          PyErr_SetString(PyExc_MemoryError, e.what());
          break;
      }
    } catch (const InternalCheck& e) {
      PyErr_SetString(PyExc_RuntimeError, ("internal check failed: " + e.message).c_str());
    }
  });
}

void bindModels(py::module_& m) {
  py::class_<seqcorvane::Models>(m, "Models", "The five model files, loaded and checked once; share it freely.")
      .def(py::init([](const py::object& dir) {
             return seqcorvane::Models(dir.is_none() ? std::string() : py::str(dir).cast<std::string>());
           }),
           py::arg("data_dir") = py::none())
      .def_property_readonly("directory", &seqcorvane::Models::directory)
      .def_property_readonly("digest", &seqcorvane::Models::digest)
      .def("__repr__", [](const seqcorvane::Models& x) { return "Models('" + x.directory() + "')"; });
}

void bindScore(py::module_& m) {
  py::class_<seqcorvane::ScoreResult>(m, "Score", "The message length of a given alignment.")
      .def_property_readonly("K", [](const seqcorvane::ScoreResult& s) { return s.parameters.K; })
      .def_property_readonly("transitions",
                             [](const seqcorvane::ScoreResult& s) { return transitionsOf(s.parameters.transitions); })
      .def_property_readonly("path_bits", [](const seqcorvane::ScoreResult& s) { return bitsOrNone(s.pathMsgLen); })
      .def_property_readonly("residues_bits",
                             [](const seqcorvane::ScoreResult& s) { return bitsOrNone(s.residuesMsgLen); })
      .def_property_readonly("bits", [](const seqcorvane::ScoreResult& s) { return bitsOrNone(s.msgLen); })
      .def_property_readonly("null_bits", [](const seqcorvane::ScoreResult& s) { return bitsOrNone(s.nullMsgLen); })
      .def_property_readonly("compression_bits", [](const seqcorvane::ScoreResult& s) { return s.compressionBits; });
}

void bindResult(py::module_& m) {
  py::class_<AlignResult>(m, "Result", "The result of align(): the alignment, its parameters and message lengths.")
      .def_property_readonly("criterion", [](const AlignResult& r) { return seqcorvane::criterionName(r.criterion); })
      .def_property_readonly("name_s", [](const AlignResult& r) { return r.s.name; })
      .def_property_readonly("name_t", [](const AlignResult& r) { return r.t.name; })
      .def_property_readonly("s", [](const AlignResult& r) { return r.s.residues; })
      .def_property_readonly("t", [](const AlignResult& r) { return r.t.residues; })
      .def_property_readonly("path", [](const AlignResult& r) { return r.path; })
      .def_property_readonly("row_s", [](const AlignResult& r) { return r.rowS; })
      .def_property_readonly("row_t", [](const AlignResult& r) { return r.rowT; })
      .def_property_readonly("rows", [](const AlignResult& r) { return py::make_tuple(r.rowS, r.rowT); })
      .def_property_readonly("K", [](const AlignResult& r) { return r.parameters.K; })
      .def_property_readonly("transitions",
                             [](const AlignResult& r) { return transitionsOf(r.parameters.transitions); })
      .def_property_readonly("null_bits", [](const AlignResult& r) { return bitsOrNone(r.nullMsgLen); })
      .def_property_readonly("alignment_bits", [](const AlignResult& r) { return bitsOrNone(r.alignmentMsgLen); })
      .def_property_readonly("marginal_bits", [](const AlignResult& r) { return bitsOrNone(r.marginalMsgLen); })
      .def_property_readonly("compression_bits", [](const AlignResult& r) { return r.compressionBits; })
      .def_property_readonly("related", &AlignResult::related)
      .def_property_readonly("verdict", [](const AlignResult& r) { return r.related() ? "related" : "not related"; })
      .def_property_readonly("column_confidence",
                             [](const AlignResult& r) -> py::object {
                               if (r.columnConfidence.empty()) return py::none();
                               return py::cast(r.columnConfidence);
                             })
      .def_property_readonly("marginal_K", [](const AlignResult& r) { return r.search.K; })
      .def_property_readonly("fitted_matches", [](const AlignResult& r) { return r.posterior.fittedMatches; })
      .def_property_readonly("end_gaps_alike", [](const AlignResult& r) { return r.posterior.endGapsAlike; })
      .def_property_readonly("score",
                             [](const AlignResult& r) -> py::object {
                               if (r.criterion != seqcorvane::Criterion::posterior) return py::none();
                               return py::cast(r.posterior.score);
                             })
      .def(
          "format",
          [](const AlignResult& r, const std::string& name) {
            seqcorvane::AlignmentFormat f;
            if (!seqcorvane::parseAlignmentFormat(name, f))
              throw py::value_error("format is afasta, fasta, clustal, stockholm or json, not '" + name + "'");
            return seqcorvane::formatAlignment(r, f);
          },
          py::arg("format"), "The alignment as the text of a file in the format.")
      .def("__repr__", [](const AlignResult& r) {
        return "<Result " + std::string(seqcorvane::criterionName(r.criterion)) + " " + r.s.name + "/" + r.t.name +
               " K=" + std::to_string(r.parameters.K) + " " + std::to_string(r.compressionBits) + " bits>";
      });
}

void bindCalls(py::module_& m) {
  m.def("_align", [](const std::string& nameS, const std::string& s, const std::string& nameT, const std::string& t,
                     const seqcorvane::Models& models, const std::string& criterion, bool confidence, int threads,
                     bool endGapsAlike) {
    const seqcorvane::AlignConfig config = configOf(criterion, confidence, threads, endGapsAlike);
    py::gil_scoped_release release;
    return seqcorvane::align({nameS, s}, {nameT, t}, models, config);
  });
  m.def("_score", [](const std::string& rowS, const std::string& rowT, const seqcorvane::Models& models) {
    py::gil_scoped_release release;
    return seqcorvane::scoreAlignment(rowS, rowT, models);
  });
  // Many pairs on threads of their own, one pair a thread; the first error
  // (in the order of the pairs) is raised once all are done.
  m.def("_align_many", [](const std::vector<std::array<std::string, 4>>& pairs, const seqcorvane::Models& models,
                          const std::string& criterion, bool confidence, int threads, bool endGapsAlike) {
    const seqcorvane::AlignConfig config = configOf(criterion, confidence, 1, endGapsAlike);
    std::vector<AlignResult> results(pairs.size());
    std::vector<std::exception_ptr> errors(pairs.size());
    {
      py::gil_scoped_release release;
      std::atomic<size_t> next{0};
      auto work = [&] {
        for (size_t k; (k = next++) < pairs.size();) {
          try {
            const auto& p = pairs[k];
            results[k] = seqcorvane::align({p[0], p[1]}, {p[2], p[3]}, models, config);
          } catch (...) {
            errors[k] = std::current_exception();
          }
        }
      };
      const int n = threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
      std::vector<std::thread> pool;
      for (int k = 1; k < std::min<int>(n, static_cast<int>(pairs.size())); ++k) {
        try {
          pool.emplace_back(work);
        } catch (const std::system_error&) {
          break;  // fewer threads
        }
      }
      work();
      for (auto& t : pool) t.join();
    }
    for (const auto& e : errors)
      if (e) std::rethrow_exception(e);
    return results;
  });
}

// Exploring a pair: the landscape at a distance, the best alignments through
// cells, the column confidences of any alignment, and the readers the
// explorer's program uses. Computations run without the global interpreter lock.
void bindExplorer(py::module_& m) {
  py::class_<seqcorvane::CellPaths::Through>(m, "Through", "The best alignment through a cell.")
      .def_readonly("path", &seqcorvane::CellPaths::Through::path, "'m', 'd', 'i' per column")
      .def_readonly("msg_len", &seqcorvane::CellPaths::Through::msgLen, "I(A,<S,T>) in nits")
      .def_property_readonly("bits",
                             [](const seqcorvane::CellPaths::Through& x) { return seqcorvane::nits2bits(x.msgLen); })
      .def("__repr__", [](const seqcorvane::CellPaths::Through& x) {
        return "<Through " + std::to_string(x.path.size()) + " columns " +
               std::to_string(seqcorvane::nits2bits(x.msgLen)) + " bits>";
      });
  py::class_<seqcorvane::CellPaths>(m, "CellPaths",
                                    "The best alignments through chosen cells at distance K (about 50 bytes a cell).")
      .def(py::init([](const std::string& s, const std::string& t, int K, const seqcorvane::Models& models) {
             py::gil_scoped_release release;
             return seqcorvane::CellPaths({"s", s}, {"t", t}, models, K);
           }),
           py::arg("s"), py::arg("t"), py::arg("K"), py::arg("models"),
           py::keep_alive<1, 5>())  // the paths read the models as long as they live
      .def("best", &seqcorvane::CellPaths::best, py::arg("i"), py::arg("j"), py::call_guard<py::gil_scoped_release>(),
           "The best alignment through cell (i, j): i residues of S and j of T behind it.");
  py::class_<seqcorvane::Landscape>(
      m, "Landscape", "The marginal landscape at distance K, in bits above the best cell (4 bytes a cell).")
      .def(py::init(
               [](const std::string& s, const std::string& t, int K, const seqcorvane::Models& models, int threads) {
                 py::gil_scoped_release release;
                 return seqcorvane::Landscape({"s", s}, {"t", t}, models, K, threads);
               }),
           py::arg("s"), py::arg("t"), py::arg("K"), py::arg("models"), py::arg("threads") = 0)
      .def_property_readonly("shape", [](const seqcorvane::Landscape& x) { return py::make_tuple(x.rows(), x.cols()); })
      .def_property_readonly("K", &seqcorvane::Landscape::distance)
      .def_property_readonly("best_msg_len", &seqcorvane::Landscape::bestMsgLen)
      .def_property_readonly("best_bits",
                             [](const seqcorvane::Landscape& x) { return seqcorvane::nits2bits(x.bestMsgLen()); })
      .def("bits_above", &seqcorvane::Landscape::bitsAbove, py::arg("i"), py::arg("j"))
      .def(
          "region",
          [](const seqcorvane::Landscape& x, std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1,
             std::size_t maxRows, std::size_t maxCols) {
            seqcorvane::Landscape::Region r;
            {
              py::gil_scoped_release release;
              r = x.region(i0, i1, j0, j1, maxRows, maxCols);
            }
            return py::make_tuple(
                r.rows, r.cols,
                py::bytes(reinterpret_cast<const char*>(r.values.data()), r.values.size() * sizeof(float)));
          },
          py::arg("i0"), py::arg("i1"), py::arg("j0"), py::arg("j1"), py::arg("max_rows"), py::arg("max_cols"),
          "(rows, cols, bytes): the least value of each block, float32 in the machine's byte order, row by row.");
  py::class_<seqcorvane::ColumnConfidence>(m, "ColumnConfidence",
                                           "The posteriors at distance K of every pair of residues (4 bytes a cell).")
      .def(py::init([](const std::string& s, const std::string& t, int K, const seqcorvane::Models& models) {
             py::gil_scoped_release release;
             return seqcorvane::ColumnConfidence({"s", s}, {"t", t}, models, K);
           }),
           py::arg("s"), py::arg("t"), py::arg("K"), py::arg("models"))
      .def("of", &seqcorvane::ColumnConfidence::of, py::arg("path"), py::call_guard<py::gil_scoped_release>(),
           "The posterior of each column of the path.");
  m.def("_cell_alignment_result", [](const std::string& nameS, const std::string& s, const std::string& nameT,
                                     const std::string& t, const seqcorvane::Models& models, int K,
                                     const std::string& path, double msgLen, double marginalMsgLen,
                                     const std::vector<double>& confidence) {
    return seqcorvane::cellAlignmentResult({nameS, s}, {nameT, t}, models, K, path, msgLen, marginalMsgLen, confidence);
  });
  m.def("_explorer_memory_needed", &seqcorvane::explorerMemoryNeeded);
  m.def("_memory_available", &seqcorvane::shell::memoryAvailable);
  m.def("_memory_text", &seqcorvane::shell::memoryText);
  m.def("_read_fasta", [](const std::string& path) {
    std::size_t leading = 0;
    std::vector<seqcorvane::Record> records;
    {
      py::gil_scoped_release release;
      records = seqcorvane::readFasta(path, &leading);
    }
    py::list out;
    for (const auto& r : records) out.append(py::make_tuple(r.name, r.header, r.text));
    return py::make_tuple(out, leading);
  });
  m.def("_standard_residues", &seqcorvane::standardResidues);
  m.def("_dropped_characters", &seqcorvane::droppedCharacters);
}

}  // namespace

PYBIND11_MODULE(_seqcorvane, m) {
  m.doc() = "SeqCorvane's library: pairwise protein alignment in the Minimum Message Length framework";
  bindErrors(m);
  m.attr("__version__") = seqcorvane::version();

  bindModels(m);
  bindScore(m);
  bindResult(m);
  bindCalls(m);
  bindExplorer(m);
}

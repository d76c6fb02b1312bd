// Many pairs from Python: worker threads of their own align the pairs, one
// pair a thread at a time, as the batch program does; Python hands them the
// pairs as it reads them and takes each result by its index, in order. A
// pair's failure is that pair's outcome, never the others'. While Python
// waits it wakes every 50 ms to let signals through (Ctrl-C); stop() ends the
// work between pairs (a pair that has started finishes).
#include <pybind11/stl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "bindings.h"
#include "memoryGate.h"
#include "numbers.h"

namespace seqcorvane::python {

namespace {

struct Job {
  std::size_t index;
  Sequence s, t;
};

// What became of a pair: its result, or the class and message of its error.
struct Outcome {
  bool ok = false;
  AlignResult result;
  PyObject* errorType = nullptr;  // a Python class, kept alive by the module
  std::string message;
};

class PairStream {
 public:
  PairStream(const Models& models, const AlignConfig& config, int threads)
      : models(models),
        config(config),
        threads(threads > 0 ? threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))),
        // What the pairs may use at once: what this process may use now, less
        // room for the threads' stacks and the rest of the interpreter.
        gate(shell::memoryAvailable() - 32.0 * (1 << 20), 80.0 * (1 << 20)) {
    this->config.threads = 1;  // one thread a pair: the pairs run side by side
    this->config.memoryLimit = gate.room();
  }
  PairStream(const PairStream&) = delete;
  PairStream& operator=(const PairStream&) = delete;
  // Called with the interpreter's lock held: the workers never take it, so
  // waiting for them here cannot deadlock.
  ~PairStream() { halt(); }

  // Pairs to align: (index, name of S, S, name of T, T), residues only.
  void submit(const std::vector<std::tuple<std::size_t, std::string, std::string, std::string, std::string>>& pairs) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (closed || stopping) throw py::value_error("no more pairs can be given to a finished stream");
      for (const auto& p : pairs)
        jobs.push_back(Job{std::get<0>(p), {std::get<1>(p), std::get<2>(p)}, {std::get<3>(p), std::get<4>(p)}});
      submitted += pairs.size();
    }
    jobsReady.notify_all();
    while (static_cast<int>(workers.size()) < threads && workers.size() < submitted) {
      try {
        workers.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        if (workers.empty()) throw;
        break;  // fewer threads
      }
    }
  }

  // No more pairs: the workers end once the queue is empty.
  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      closed = true;
    }
    jobsReady.notify_all();
  }

  // The outcome of pair `index` once it is done: the Result, or (exception
  // class, message).
  py::object take(std::size_t index) {
    Outcome outcome;
    for (bool got = false; !got;) {
      {
        py::gil_scoped_release release;
        std::unique_lock<std::mutex> lock(mutex);
        got = outcomeReady.wait_for(lock, std::chrono::milliseconds(50), [&] { return done.count(index) != 0; });
        if (got) {
          outcome = std::move(done[index]);
          done.erase(index);
        } else if (workers.empty() || stopping) {
          throw std::logic_error("a pair that was never given is waited for");
        }
      }
      if (!got && PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
    if (outcome.ok) return py::cast(std::move(outcome.result));
    PyObject* text = PyUnicode_DecodeUTF8(outcome.message.data(), static_cast<Py_ssize_t>(outcome.message.size()),
                                          "backslashreplace");
    if (text == nullptr) throw py::error_already_set();
    return py::make_tuple(py::reinterpret_borrow<py::object>(outcome.errorType),
                          py::reinterpret_steal<py::object>(text));
  }

  // Ends the work: pairs not started are dropped, those running finish.
  void stop() {
    py::gil_scoped_release release;
    halt();
  }

 private:
  void halt() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      jobs.clear();
    }
    jobsReady.notify_all();
    for (auto& w : workers)
      if (w.joinable()) w.join();
  }

  void work() {
    while (true) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex);
        jobsReady.wait(lock, [&] { return stopping || closed || !jobs.empty(); });
        if (stopping || jobs.empty()) return;
        job = std::move(jobs.front());
        jobs.pop_front();
      }
      Outcome outcome = run(job);
      {
        std::lock_guard<std::mutex> lock(mutex);
        done.emplace(job.index, std::move(outcome));
      }
      outcomeReady.notify_all();
    }
  }

  Outcome run(const Job& job) {
    Outcome o;
    const std::size_t nS = job.s.residues.size(), nT = job.t.residues.size();
    try {
      const double needed = memoryNeeded(nS, nT, config);
      if (!gate.enter(needed)) {
        o.errorType = exceptionOf(Error::Kind::resources);
        o.message = "aligning sequences of " + std::to_string(nS) + " and " + std::to_string(nT) +
                    " residues with the " + criterionName(config.criterion) + " criterion needs " +
                    shell::memoryText(needed) + " of memory; " + shell::memoryText(gate.room()) + " available";
        return o;
      }
      try {
        o.result = align(job.s, job.t, models, config);
      } catch (...) {
        gate.leave(needed);
        throw;
      }
      gate.leave(needed);
      o.ok = true;
    } catch (const Error& e) {
      o.errorType = exceptionOf(e.kind());
      o.message = e.what();
    } catch (const InternalCheck& e) {
      o.errorType = PyExc_RuntimeError;
      o.message = "internal check failed: " + e.message;
    } catch (const std::bad_alloc&) {
      o.errorType = PyExc_MemoryError;
      o.message =
          "out of memory aligning sequences of " + std::to_string(nS) + " and " + std::to_string(nT) + " residues";
    } catch (const std::exception& e) {
      o.errorType = PyExc_RuntimeError;
      o.message = e.what();
    }
    return o;
  }

  const Models models;
  AlignConfig config;
  const int threads;
  shell::MemoryGate gate;
  std::mutex mutex;
  std::condition_variable jobsReady, outcomeReady;
  std::deque<Job> jobs;
  std::unordered_map<std::size_t, Outcome> done;
  std::size_t submitted = 0;
  bool closed = false, stopping = false;
  std::vector<std::thread> workers;
};

}  // namespace

void bindStream(py::module_& m) {
  py::class_<PairStream>(m, "_PairStream",
                         "Pairs aligned on worker threads, taken back by index (seqcorvane.iter_align drives it).")
      .def(py::init([](const Models& models, const std::string& criterion, bool confidence, int threads,
                       bool endGapsAlike, const std::string& mode) {
             return std::make_unique<PairStream>(models, configOf(criterion, confidence, 1, endGapsAlike, mode),
                                                 threads);
           }),
           py::arg("models"), py::arg("criterion"), py::arg("confidence"), py::arg("threads"),
           py::arg("end_gaps_alike"), py::arg("mode") = "global",
           "Workers for the criterion's pairs under the hypothesis (mode), `threads` at once (0: every core).")
      .def("submit", &PairStream::submit, py::arg("pairs"),
           "Pairs to align: (index, name of S, S, name of T, T), residues only.")
      .def("close", &PairStream::close, "No more pairs will be submitted.")
      .def("take", &PairStream::take, py::arg("index"),
           "The Result of pair `index` once it is done, or (exception class, message); wakes every 50 ms for "
           "signals.")
      .def("stop", &PairStream::stop, "Drops the pairs not started and waits for those running.");
}

}  // namespace seqcorvane::python

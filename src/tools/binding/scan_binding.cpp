// src/tools/binding/scan_binding.cpp: windowed scans: of a whole `data` at
// once (written straight into the result's arrays), and the streaming
// Scanner that scan_file feeds block by block. The package's Scan class
// gives them their shape.
#include "tools/binding/bindings.h"

#include "pool/pool.h"
#include "tools/binding/byte_input.h"
#include "tools/binding/contiguous_input.h"
#include "tools/scan/profile.h"
#include "tools/scan/scanner.h"

#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/vector.h>

#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace nb = nanobind;
using namespace nb::literals;

namespace talvora::tools {
namespace {

// An array.array of count zeros, and its memory, held writable until this
// is gone (so nothing resizes it meanwhile).
class OutputArray {
  public:
    OutputArray(const char* typecode, std::size_t count) {
        const nb::object zero =
            nb::module_::import_("array").attr("array")(typecode, nb::make_tuple(0));
        array_ = nb::steal(PySequence_Repeat(zero.ptr(), static_cast<Py_ssize_t>(count)));
        if (!array_.is_valid()) throw nb::python_error();
        if (PyObject_GetBuffer(array_.ptr(), &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) != 0)
            throw nb::python_error();
    }
    OutputArray(const OutputArray&) = delete;
    OutputArray& operator=(const OutputArray&) = delete;
    ~OutputArray() { PyBuffer_Release(&view_); }

    template <class T> T* data() const { return static_cast<T*>(view_.buf); }
    const nb::object& array() const { return array_; }

  private:
    nb::object array_;
    Py_buffer view_{};
};

// The five columns of a scan as arrays, written in place.
struct OutputColumns {
    explicit OutputColumns(std::size_t count)
        : offsets("Q", count), lengths("Q", count), shannon("d", count), min_entropy("d", count),
          chi_square("d", count) {}

    ScanOutput output() const {
        return {offsets.data<std::uint64_t>(), lengths.data<std::uint64_t>(),
                shannon.data<double>(), min_entropy.data<double>(), chi_square.data<double>()};
    }
    nb::tuple arrays() const {
        return nb::make_tuple(offsets.array(), lengths.array(), shannon.array(),
                              min_entropy.array(), chi_square.array());
    }

    OutputArray offsets, lengths, shannon, min_entropy, chi_square;
};

nb::tuple arrays_of(const ScanColumns& columns) {
    const OutputColumns out(columns.size());
    const ScanOutput to = out.output();
    const auto copy = [](const auto& column, auto* target) {
        if (!column.empty()) std::memcpy(target, column.data(), column.size() * sizeof column[0]);
    };
    copy(columns.offsets, to.offsets);
    copy(columns.lengths, to.lengths);
    copy(columns.shannon, to.shannon);
    copy(columns.min_entropy, to.min_entropy);
    copy(columns.chi_square, to.chi_square);
    return out.arrays();
}

// A read-only view of an array of 8-byte items that the caller holds.
template <class T> class ColumnView {
  public:
    explicit ColumnView(nb::handle column) {
        if (PyObject_GetBuffer(column.ptr(), &view_, PyBUF_C_CONTIGUOUS) != 0)
            throw nb::python_error();
        if (view_.itemsize != sizeof(T)) {
            PyBuffer_Release(&view_);
            PyErr_SetString(PyExc_TypeError, "a scan column must hold 8-byte items");
            throw nb::python_error();
        }
    }
    ColumnView(const ColumnView&) = delete;
    ColumnView& operator=(const ColumnView&) = delete;
    ~ColumnView() { PyBuffer_Release(&view_); }

    std::span<const T> items() const {
        return {static_cast<const T*>(view_.buf), static_cast<std::size_t>(view_.len) / sizeof(T)};
    }

  private:
    Py_buffer view_{};
};

// The native Scanner, one call at a time: feeding runs without the
// interpreter lock, so two threads could otherwise feed it at once.
class ScannerState {
  public:
    ScannerState(ScanShape shape, ScanSpan span) : scanner_(shape, span) {}

    template <class Operation> auto locked(Operation&& operation) {
        nb::gil_scoped_release released;
        const std::lock_guard lock(mutex_);
        return operation(scanner_);
    }

  private:
    std::mutex mutex_;
    Scanner scanner_;
};

[[noreturn]] void raise_ended() {
    PyErr_SetString(PyExc_ValueError, "the scanner's stream has ended: it takes no more bytes");
    throw nb::python_error();
}

} // namespace

void bind_scan(nb::module_& module) {
    module.def(
        "_scan",
        [](nb::handle data, std::uint64_t window, std::uint64_t step) {
            const ContiguousInput input(data);
            const ByteView bytes = input.bytes();
            const ScanShape shape{window, step};
            const OutputColumns out(window_count(bytes.size(), shape));
            {
                nb::gil_scoped_release released;
                scan_into(bytes, shape, 0, out.output(), global_pool());
            }
            return nb::make_tuple(out.arrays(), bytes.size());
        },
        "data"_a.none(), "window"_a, "step"_a,
        nb::sig("def _scan(data: " TALVORA_DATA_TYPE ", window: int, step: int) -> "
                "tuple[tuple[array.array[int], array.array[int], array.array[float], "
                "array.array[float], array.array[float]], int]"),
        "The scan of data's bytes: its five columns (offsets, lengths, shannon, min_entropy, "
        "chi_square) and the number of bytes.");

    module.def(
        "_scan_edges",
        [](nb::handle shannon, double rising, double falling) {
            const ColumnView<double> values(shannon);
            std::vector<std::pair<std::size_t, bool>> edges;
            for (const EdgeAt& edge : find_edges(values.items(), rising, falling))
                edges.emplace_back(edge.window, edge.rising);
            return edges;
        },
        "shannon"_a, "rising"_a, "falling"_a,
        nb::sig("def _scan_edges(shannon: collections.abc.Buffer, rising: float, falling: "
                "float) -> list[tuple[int, bool]]"),
        "The edges of a scan's metric entropy: (window index, whether rising).");

    module.def(
        "_scan_regions",
        [](nb::handle offsets, nb::handle lengths, nb::handle shannon, double threshold,
           std::uint64_t min_length) {
            const ColumnView<std::uint64_t> starts(offsets), sizes(lengths);
            const ColumnView<double> values(shannon);
            if (starts.items().size() != values.items().size() ||
                sizes.items().size() != values.items().size()) {
                PyErr_SetString(PyExc_ValueError, "a scan's columns must have equal lengths");
                throw nb::python_error();
            }
            std::vector<std::pair<std::uint64_t, std::uint64_t>> regions;
            for (const ByteRange& range :
                 find_regions(starts.items(), sizes.items(), values.items(), threshold, min_length))
                regions.emplace_back(range.start, range.end);
            return regions;
        },
        "offsets"_a, "lengths"_a, "shannon"_a, "threshold"_a, "min_length"_a,
        nb::sig("def _scan_regions(offsets: collections.abc.Buffer, lengths: "
                "collections.abc.Buffer, shannon: collections.abc.Buffer, threshold: float, "
                "min_length: int) -> list[tuple[int, int]]"),
        "The byte ranges where a scan's metric entropy is at or above threshold.");

    nb::class_<ScannerState>(module, "_Scanner",
                             "A scan of a stream fed in successive blocks; any split of the same "
                             "bytes gives the same windows.")
        .def(
            "__init__",
            [](ScannerState* self, std::uint64_t window, std::uint64_t step, std::uint64_t origin,
               std::optional<std::uint64_t> begin, std::optional<std::uint64_t> starts_end) {
                ScanSpan span{origin, begin.value_or(origin)};
                if (starts_end) span.starts_end = *starts_end;
                new (self) ScannerState({window, step}, span);
            },
            "window"_a, "step"_a, "origin"_a = 0, "begin"_a.none() = nb::none(),
            "starts_end"_a.none() = nb::none(),
            "Windows start at origin + k * step (stream offsets); the first byte fed is at "
            "begin (default origin); windows starting before begin or at or after starts_end "
            "are left to other scanners.")
        .def(
            "feed",
            [](ScannerState& self, nb::handle data) {
                const ContiguousInput input(data);
                const bool ended = self.locked([&](Scanner& scanner) {
                    if (scanner.finished()) return true;
                    scanner.feed(input.bytes(), global_pool());
                    return false;
                });
                if (ended) raise_ended();
            },
            "data"_a.none(), nb::sig("def feed(self, data: " TALVORA_DATA_TYPE ") -> None"),
            "The next bytes of the stream.")
        .def(
            "finish",
            [](ScannerState& self) {
                self.locked([](Scanner& scanner) {
                    scanner.finish(global_pool());
                    return true;
                });
            },
            "The stream ends here: adds the last, shorter window if one is due.")
        .def(
            "take",
            [](ScannerState& self) {
                const ScanColumns taken =
                    self.locked([](Scanner& scanner) { return scanner.take(); });
                return arrays_of(taken);
            },
            nb::sig("def take(self) -> tuple[array.array[int], array.array[int], "
                    "array.array[float], array.array[float], array.array[float]]"),
            "The windows produced since the last take: offsets, lengths, shannon, "
            "min_entropy, chi_square.")
        .def_prop_ro(
            "position",
            [](ScannerState& self) {
                return self.locked([](Scanner& scanner) { return scanner.position(); });
            },
            "The stream offset of the next byte to feed.")
        .def_prop_ro(
            "needed_end",
            [](ScannerState& self) -> std::optional<std::uint64_t> {
                const std::uint64_t end =
                    self.locked([](Scanner& scanner) { return scanner.needed_end(); });
                if (end == std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
                return end;
            },
            "The offset from which on no byte changes this scanner's windows (None: no end).")
        .def_prop_ro(
            "done",
            [](ScannerState& self) {
                return self.locked([](Scanner& scanner) { return scanner.done(); });
            },
            "Whether every window this scanner can produce is out.");
}

} // namespace talvora::tools

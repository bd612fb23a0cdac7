// src/tools/binding/file_binding.cpp: adding the bytes of an open file
// descriptor, read without the interpreter lock. Opening by path and file
// objects are the package's Python; this only reads.
#include "tools/binding/bindings.h"

#include "pool/pool.h"
#include "tools/files/file_summary.h"

#include <nanobind/stl/optional.h>

#include <cerrno>

namespace nb = nanobind;
using namespace nb::literals;

namespace talvora::tools {
namespace {

// Runs pending signal handlers (Ctrl-C among them) during a long read; true
// when one raised, its exception left set for the caller.
bool signal_raised() {
    nb::gil_scoped_acquire attached;
    return PyErr_CheckSignals() != 0;
}

} // namespace

void bind_file_reading(HistogramClass& histogram) {
    histogram.def(
        "_update_fd",
        [](HistogramState& self, int fd, std::uint64_t offset, std::optional<std::uint64_t> length,
           nb::handle name) {
            FileSummary summary;
            {
                nb::gil_scoped_release released;
                summary = summarize_file(fd, {offset, length}, global_pool(), signal_raised);
            }
            if (summary.stopped) throw nb::python_error();
            if (summary.error != 0) {
                errno = summary.error;
                PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
                throw nb::python_error();
            }
            append_or_raise(self, {summary.part, summary.truncated});
            return summary.part.n;
        },
        "fd"_a, "offset"_a, "length"_a.none(), "name"_a,
        nb::sig("def _update_fd(self, fd: int, offset: int, length: int | None, name: "
                "object) -> int"),
        "Adds the bytes of the open fd (from offset, or skipping offset bytes of a stream, "
        "at most length of them); returns how many were read. Errors name `name`.");
}

} // namespace talvora::tools

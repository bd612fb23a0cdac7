// src/tools/binding/module.cpp: the extension talvora_tools._native; each
// concern registers its names from its own file.
#include "tools/binding/bindings.h"

NB_MODULE(_native, module) {
    module.doc() = "The native core of talvora_tools: histograms of bytes and their reports.";
    talvora::tools::HistogramClass histogram = talvora::tools::bind_histogram(module);
    talvora::tools::bind_report(histogram);
    talvora::tools::bind_file_reading(histogram);
    talvora::tools::bind_scan(module);
    talvora::tools::bind_sp800_90b(module);
}

#include "bench/registry.h"

namespace bench {
namespace {

// Runs during static initialisation, before benchmark_main's main() lists the benchmarks.
[[maybe_unused]] const bool Registered = [] {
  RegisterOverlayFrameBenchmarks();
  RegisterStretchBenchmarks();
  RegisterImportBenchmarks();
  return true;
}();

}  // namespace
}  // namespace bench

#include "bench/registry.h"

#include "platform/pixel_memory.h"

namespace bench {
namespace {

// Runs during static initialisation, before benchmark_main's main() lists the benchmarks.
[[maybe_unused]] const bool Registered = [] {
  // Pixel memory as the programs get it, installed before any picture is made.
  platform::InstallMappedPixelAllocator();
  RegisterOverlayFrameBenchmarks();
  RegisterStretchBenchmarks();
  RegisterImportBenchmarks();
  RegisterAlignBenchmarks();
  RegisterMarkerBenchmarks();
  return true;
}();

}  // namespace
}  // namespace bench

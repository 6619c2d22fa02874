// Each benchmark file registers its benchmarks through one of these; registry.cpp calls them
// in a fixed order so that every engine figure is printed next to its pixman baseline.
#pragma once

namespace bench {

void RegisterOverlayFrameBenchmarks();
void RegisterStretchBenchmarks();
void RegisterImportBenchmarks();

}  // namespace bench

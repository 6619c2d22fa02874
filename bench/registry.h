// Each benchmark file registers its benchmarks through one of these; registry.cpp calls them
// in a fixed order so that every engine figure is printed next to its pixman baseline.
#pragma once

#include <string>

namespace bench {

void RegisterOverlayFrameBenchmarks();
void RegisterStretchBenchmarks();
void RegisterImportBenchmarks();
void RegisterAlignBenchmarks();
void RegisterMarkerBenchmarks();
// The window benchmarks (view_bench), which also run the import baselines in the same process.
void RegisterWindowBenchmarks();
// Closes the main window the window benchmarks share; called before the Qt application goes,
// which a window must not outlive.
void CloseBenchmarkWindow();

// Two baseline JPEGs of different photo-like 6000 x 4000 pictures, written once per process
// into a temporary folder and removed at exit; empty when they could not be written.
const std::string& JpegPath();
const std::string& SecondJpegPath();

}  // namespace bench

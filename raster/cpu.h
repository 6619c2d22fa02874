// Processor identification and the number of threads the engine's fast paths may use.
#pragma once

namespace raster {

// The processor supports the identification instruction, reports family 5 or higher and sets
// the MMX feature bit. False on processors other than x86.
bool HasMMX();
bool HasSSE2();
bool HasAVX2();

// Threads that whole-bitmap operations may split their rows over (at least 1). Defaults to the
// number of processors, or to the environment variable RASTER_THREADS when set.
int RasterThreadCount();
void SetRasterThreadCount(int Count);

}  // namespace raster

// Splitting the rows of a whole-bitmap operation over the engine's threads.
#pragma once

#include <cstdint>
#include <functional>

namespace raster {

using TRowJob = std::function<void(std::int32_t First, std::int32_t Last)>;

// Runs Job over the rows [First, Last): in contiguous parts on up to RasterThreadCount()
// threads when the work (rows times PixelsPerRow) pays for waking them, else at once on the
// calling thread. Every row is in exactly one part, and a job must compute each row the same
// way whichever part it lies in, so that the result never depends on the split. Returns when
// all parts are done; an exception from any part is rethrown on the calling thread. A job
// that calls ForRows again gets the nested rows at once on its own thread, in one part.
void ForRows(std::int32_t First, std::int32_t Last, std::int64_t PixelsPerRow, const TRowJob& Job);

}  // namespace raster

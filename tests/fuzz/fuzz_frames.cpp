// Frames of any content whose copy reports any byte count: the reduction must stay inside its
// arrays (the sanitizers watch every access) and give cells of channels 0 to 255.
#include "camera/camera_grid.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>

namespace {

CameraGrid* camera = nullptr;

void check(bool holds) {
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    camera = new CameraGrid(160, 120, 40, 30);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int32_t capacity = camera->pixelCount * 3;
    // A copy that wrote some bytes, any number of them, and reported any count at all.
    const int32_t reported = input.ConsumeIntegral<int32_t>();
    const std::vector<uint8_t> bytes = input.ConsumeRemainingBytes<uint8_t>();
    const size_t copied = bytes.size() < static_cast<size_t>(capacity) ? bytes.size() : capacity;
    if (copied > 0)
        std::memcpy(camera->frameBuffer, bytes.data(), copied);
    camera->frameBytes = reported;
    camera->reduceFrame();
    camera->reduceFrame();
    for (int32_t cell = 0; cell < camera->gridCellCount; ++cell) {
        const ColorTriple& c = *camera->cellColors()[cell];
        check(c.r >= 0 && c.r <= 255 && c.g >= 0 && c.g <= 255 && c.b >= 0 && c.b <= 255);
        check(camera->cellLuminance()[cell] >= 0 && camera->cellLuminance()[cell] <= 255);
        check(camera->cellPixelCounts[cell] == 0);
    }
    return 0;
}

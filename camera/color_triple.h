#pragma once

#include <cstdint>

// A pixel, a cell average (each channel 0..255) or a cell accumulator (sums of such values).
struct ColorTriple {
    int32_t r = 0;
    int32_t g = 0;
    int32_t b = 0;
};

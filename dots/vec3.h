#pragma once

// A point or direction in screen pixels; the dot field uses only x and y, z stays 0.
struct Vec3 {
    float x = 0;
    float y = 0;
    float z = 0;
};

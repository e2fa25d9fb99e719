// The staggered lattice of dots over the cell grid.
#pragma once

// Creates scene.dots and scene.dotCount once at start-up from scene.cols, rows, cellSize,
// dotRadius, cellColors and cellLuminance: rows 0.75 cells apart, cols and cols + 1 dots in
// alternate rows, each dot bound for good to the one, two or four cells under its place.
void buildLattice();

// Placeholder until the capture layer lands: no graph, and every frame copy fails, so the
// reduction keeps working on the zeroed frame buffer.
#include "camera/camera_grid.h"

HRESULT CameraGrid::buildCaptureGraph(int32_t, int32_t) { return static_cast<HRESULT>(0x80004005); }

void CameraGrid::copyFrame() { lastResult = static_cast<HRESULT>(0x80004005); }

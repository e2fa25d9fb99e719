// The fake camera element "velmorafakecamsrc": a bin with one ghost pad "src" that offers exactly
// the formats its kind's device advertises, raw or MJPEG, live.
#pragma once

#include <gst/gst.h>

#define FAKECAM_TYPE_SOURCE (fakecam_source_get_type())
G_DECLARE_FINAL_TYPE(FakeCamSource, fakecam_source, FAKECAM, SOURCE, GstBin)

// The fake camera's picture source: a live source of raw frames showing a black disc, 60 % of the
// frame height across, centred on white, that fails the way its kind says.
#pragma once

#include <gst/base/gstpushsrc.h>

#define FAKECAM_TYPE_PICTURE (fakecam_picture_get_type())
G_DECLARE_FINAL_TYPE(FakeCamPicture, fakecam_picture, FAKECAM, PICTURE, GstPushSrc)

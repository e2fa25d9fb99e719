// The fake camera device provider "velmorafakecamprovider": lists the cameras named in
// VELMORA_FAKE_CAMERAS as Video/Source devices, by probing or while monitoring.
#pragma once

#include <gst/gst.h>

#include <string>

#define FAKECAM_TYPE_DEVICE (fakecam_device_get_type())
G_DECLARE_FINAL_TYPE(FakeCamDevice, fakecam_device, FAKECAM, DEVICE, GstDevice)

#define FAKECAM_TYPE_PROVIDER (fakecam_provider_get_type())
G_DECLARE_FINAL_TYPE(FakeCamProvider, fakecam_provider, FAKECAM, PROVIDER, GstDeviceProvider)

// Called from the streaming thread when the camera at path drops out: it is gone for the rest of
// the process, and a monitoring provider announces its removal.
void fakeCamDeviceGone(const std::string& path);

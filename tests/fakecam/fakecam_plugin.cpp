// The test plugin "velmorafakecam": the fake camera element and its device provider.
#include "fakecam_provider.h"
#include "fakecam_source.h"

// GST_PLUGIN_DEFINE names the package the plugin belongs to through this macro.
#define PACKAGE "velmora"

namespace {

gboolean registerFeatures(GstPlugin* plugin) {
    return gst_element_register(plugin, "velmorafakecamsrc", GST_RANK_NONE, FAKECAM_TYPE_SOURCE) &&
           gst_device_provider_register(plugin, "velmorafakecamprovider", GST_RANK_PRIMARY,
                                        FAKECAM_TYPE_PROVIDER);
}

} // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, velmorafakecam,
                  "Fake cameras for Velmora's tests", registerFeatures, "0.1.0", "Proprietary",
                  "velmora", "https://velmora.invalid")

#include "platform/gstreamer/picture_encoder_gstreamer.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

namespace {

// A PNG that has not come out after this long counts as failed.
const GstClockTime kEncodeTimeout = 5 * GST_SECOND;

const char kPipeline[] = "appsrc name=source format=time ! videoconvert ! videoscale ! pngenc ! "
                         "appsink name=sink sync=false";

void dropPipeline(PictureEncoder& encoder) {
    if (!encoder.pipeline)
        return;
    gst_element_set_state(encoder.pipeline, GST_STATE_NULL);
    gst_object_unref(encoder.source);
    gst_object_unref(encoder.sink);
    gst_object_unref(encoder.pipeline);
    encoder.pipeline = encoder.source = encoder.sink = nullptr;
}

void setCaps(PictureEncoder& encoder) {
    GstCaps* from = gst_caps_new_simple(
        "video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT, encoder.readWidth,
        "height", G_TYPE_INT, encoder.readHeight, "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
    GstCaps* to = gst_caps_new_simple("image/png", "width", G_TYPE_INT, encoder.pngWidth, "height",
                                      G_TYPE_INT, encoder.pngHeight, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(encoder.source), from);
    gst_app_sink_set_caps(GST_APP_SINK(encoder.sink), to);
    gst_caps_unref(from);
    gst_caps_unref(to);
}

// Makes the pipeline and sets it playing; false with failure set when it cannot be.
bool startPipeline(PictureEncoder& encoder, std::string& failure) {
    encoder.pipeline = makeEncoderPipeline(kPipeline, "PNG encoder", "pngenc comes", failure);
    if (!encoder.pipeline)
        return false;
    encoder.source = gst_bin_get_by_name(GST_BIN(encoder.pipeline), "source");
    encoder.sink = gst_bin_get_by_name(GST_BIN(encoder.pipeline), "sink");
    setCaps(encoder);
    if (gst_element_set_state(encoder.pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        failure = "the PNG encoder does not start";
        dropPipeline(encoder);
        return false;
    }
    return true;
}

// The pipeline's error, or what else went wrong, as the reason of the failure line.
std::string pipelineFailure(PictureEncoder& encoder) {
    std::string why = "the PNG encoder gave no picture";
    GstBus* bus = gst_element_get_bus(encoder.pipeline);
    if (GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR)) {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        if (error) {
            why = std::string("the PNG encoder failed: ") + error->message;
            g_error_free(error);
        }
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    return why;
}

} // namespace

GstSample* encodePng(PictureEncoder& encoder, GstBuffer* buffer, std::string& failure) {
    if (!encoder.pipeline && !startPipeline(encoder, failure)) {
        gst_buffer_unref(buffer);
        return nullptr;
    }
    GstSample* png = nullptr;
    if (gst_app_src_push_buffer(GST_APP_SRC(encoder.source), buffer) == GST_FLOW_OK)
        png = gst_app_sink_try_pull_sample(GST_APP_SINK(encoder.sink), kEncodeTimeout);
    if (!png) {
        // A pipeline that failed once is made afresh for the next picture.
        failure = pipelineFailure(encoder);
        dropPipeline(encoder);
    }
    return png;
}

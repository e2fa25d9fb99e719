// The video sources of the GStreamer capture layer: what each one is, how messages name it, and
// the bin that gives its own picture.
#include "platform/capture_sources_gstreamer.h"
#include "platform/capture_gstreamer.h"

namespace capture {

namespace {

const char kColourBars[] = "videotestsrc pattern=smpte";
// The caps filter after a described source, through which it is asked for the output's size.
const char kFormatName[] = "velmora-source-format";

bool holdsASource(GstElement* bin) {
    bool found = false;
    GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(bin));
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
        auto* element = GST_ELEMENT(g_value_get_object(&item));
        found = GST_OBJECT_FLAG_IS_SET(element, GST_ELEMENT_FLAG_SOURCE);
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(elements);
    return found;
}

std::string deviceLabel(GstDevice* device) {
    gchar* name = gst_device_get_display_name(device);
    std::string label = std::string("camera \"") + (name ? name : "") + "\"";
    g_free(name);
    GstStructure* properties = gst_device_get_properties(device);
    const gchar* path = nullptr;
    if (properties) {
        path = gst_structure_get_string(properties, "api.v4l2.path");
        if (!path)
            path = gst_structure_get_string(properties, "device.path");
    }
    if (path)
        label += std::string(" (") + path + ")";
    if (properties)
        gst_structure_free(properties);
    return label;
}

} // namespace

VideoSource::~VideoSource() {
    if (device)
        gst_object_unref(device);
}

SourcePtr describedSource(const std::string& description) {
    auto made = std::make_shared<VideoSource>();
    made->kind = VideoSource::Kind::Described;
    made->description = description;
    made->label = "VELMORA_VIDEO_SOURCE \"" + description + "\"";
    return made;
}

SourcePtr cameraSource(GstDevice* device) {
    auto made = std::make_shared<VideoSource>();
    made->kind = VideoSource::Kind::Camera;
    made->device = GST_DEVICE(gst_object_ref(device));
    made->label = deviceLabel(device);
    return made;
}

SourcePtr colourBars() {
    auto made = std::make_shared<VideoSource>();
    made->kind = VideoSource::Kind::ColourBars;
    made->description = kColourBars;
    made->label = "colour bars";
    return made;
}

GstElement* parseBin(const std::string& description, bool ghostPads, std::string& error) {
    GError* parseError = nullptr;
    GstElement* bin = gst_parse_bin_from_description_full(description.c_str(), ghostPads, nullptr,
                                                          GST_PARSE_FLAG_FATAL_ERRORS, &parseError);
    if (parseError || !bin) {
        error = parseError ? parseError->message : "could not be made";
        if (parseError)
            g_error_free(parseError);
        if (bin)
            gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    return GST_ELEMENT(gst_object_ref_sink(bin));
}

bool addGhostPad(GstElement* bin, const char* name, GstElement* element, const char* padName) {
    GstPad* target = gst_element_get_static_pad(element, padName);
    if (!target)
        return false;
    const bool added = gst_element_add_pad(bin, gst_ghost_pad_new(name, target));
    gst_object_unref(target);
    return added;
}

GstElement* sourceBinFromDescription(const std::string& description, std::string& error) {
    GstElement* bin = parseBin(description + " ! capsfilter name=" + kFormatName, false, error);
    if (!bin)
        return nullptr;
    // Without an element that makes data of its own there would never be a frame.
    if (!holdsASource(bin)) {
        error = "not a source: none of its elements makes video of its own";
        gst_object_unref(bin);
        return nullptr;
    }
    GstElement* format = gst_bin_get_by_name(GST_BIN(bin), kFormatName);
    const bool exposed = addGhostPad(bin, "src", format, "src");
    gst_object_unref(format);
    if (!exposed) {
        error = "could not be made";
        gst_object_unref(bin);
        return nullptr;
    }
    return bin;
}

namespace {

// The camera's element asked for its best mode, decoded when the mode is JPEG.
GstElement* cameraBin(GstDevice* device, int32_t width, int32_t height, std::string& error) {
    GstCaps* offered = gst_device_get_caps(device);
    GstCaps* mode = cameraMode(offered, width, height);
    if (offered)
        gst_caps_unref(offered);
    if (!mode) {
        error = "offers no video frames it could show";
        return nullptr;
    }
    const bool jpeg = gst_structure_has_name(gst_caps_get_structure(mode, 0), "image/jpeg");
    GstElement* source = gst_device_create_element(device, nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* decoder = jpeg ? gst_element_factory_make("jpegdec", nullptr) : nullptr;
    GstElement* bin = GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr)));
    bool made = source && filter && (decoder || !jpeg);
    for (GstElement* element : {source, filter, decoder})
        if (element)
            gst_bin_add(GST_BIN(bin), element);
    if (made) {
        g_object_set(filter, "caps", mode, nullptr);
        made = gst_element_link(source, filter) &&
               (!decoder || gst_element_link(filter, decoder)) &&
               addGhostPad(bin, "src", decoder ? decoder : filter, "src");
    }
    gst_caps_unref(mode);
    if (!made) {
        error = jpeg ? "gives JPEG frames, and GStreamer's JPEG decoder is missing"
                     : "could not be made";
        gst_object_unref(bin);
        return nullptr;
    }
    return bin;
}

} // namespace

GstElement* sourceBin(const VideoSource& video, int32_t width, int32_t height, std::string& error) {
    if (video.kind == VideoSource::Kind::Camera)
        return cameraBin(video.device, width, height, error);
    GstElement* bin = sourceBinFromDescription(video.description, error);
    if (!bin)
        return nullptr;
    // The wanted size first, then any size: a source that cannot give it still negotiates, and
    // the scaling after it makes it fit.
    gchar* text = g_strdup_printf("video/x-raw,width=%d,height=%d;video/x-raw", width, height);
    GstCaps* caps = gst_caps_from_string(text);
    g_free(text);
    GstElement* format = gst_bin_get_by_name(GST_BIN(bin), kFormatName);
    g_object_set(format, "caps", caps, nullptr);
    gst_object_unref(format);
    gst_caps_unref(caps);
    return bin;
}

} // namespace capture

// The video sources of the GStreamer capture layer: what each one is, how messages name it, and
// the bin that gives its own picture.
#include "platform/gstreamer/capture_sources_gstreamer.h"
#include "platform/gstreamer/capture_gstreamer.h"

namespace capture {

namespace {

const char kColourBars[] = "videotestsrc pattern=smpte";
// The element after a described source whose pad the source's bin offers as its own.
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

// The device node a camera is opened through, or "" when its provider does not say.
std::string devicePath(GstDevice* device) {
    GstStructure* properties = gst_device_get_properties(device);
    const gchar* path = nullptr;
    if (properties) {
        path = gst_structure_get_string(properties, "api.v4l2.path");
        if (!path)
            path = gst_structure_get_string(properties, "device.path");
    }
    std::string found = path ? path : "";
    if (properties)
        gst_structure_free(properties);
    return found;
}

std::string deviceLabel(GstDevice* device) {
    gchar* name = gst_device_get_display_name(device);
    std::string label = std::string("camera \"") + (name ? name : "") + "\"";
    g_free(name);
    const std::string path = devicePath(device);
    if (!path.empty())
        label += " (" + path + ")";
    return label;
}

bool sameNameAndProperties(GstDevice* a, GstDevice* b) {
    gchar* nameA = gst_device_get_display_name(a);
    gchar* nameB = gst_device_get_display_name(b);
    GstStructure* propertiesA = gst_device_get_properties(a);
    GstStructure* propertiesB = gst_device_get_properties(b);
    const bool same = g_strcmp0(nameA, nameB) == 0 && propertiesA && propertiesB &&
                      gst_structure_is_equal(propertiesA, propertiesB);
    g_free(nameA);
    g_free(nameB);
    if (propertiesA)
        gst_structure_free(propertiesA);
    if (propertiesB)
        gst_structure_free(propertiesB);
    return same;
}

SourcePtr cameraSource(GstDevice* device, const std::string& label) {
    auto made = std::make_shared<VideoSource>();
    made->kind = VideoSource::Kind::Camera;
    made->device = GST_DEVICE(gst_object_ref(device));
    made->greyOnly = offersGreyOnly(device);
    made->label = label;
    return made;
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
    return cameraSource(device, deviceLabel(device));
}

SourcePtr cameraSource(GstDevice* device, const VideoSource& replaced) {
    return cameraSource(device, replaced.label);
}

bool sameDevice(GstDevice* a, GstDevice* b) {
    if (a == b)
        return true;
    const std::string pathA = devicePath(a);
    if (!pathA.empty() || !devicePath(b).empty())
        return pathA == devicePath(b);
    return sameNameAndProperties(a, b);
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

// Answers a described source's question of what may follow it: raw frames of the wanted size
// and format (in the probe's data) first, then anything the source can give, for the decoding and
// scaling after it to make fit.
GstPadProbeReturn preferSize(GstPad*, GstPadProbeInfo* info, gpointer wanted) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    GstCaps* offered = nullptr;
    if (GST_QUERY_TYPE(query) != GST_QUERY_CAPS)
        return GST_PAD_PROBE_OK;
    gst_query_parse_caps(query, &offered);
    if (!offered || gst_caps_is_any(offered))
        return GST_PAD_PROBE_OK;
    GstCaps* answer =
        gst_caps_intersect_full(static_cast<GstCaps*>(wanted), offered, GST_CAPS_INTERSECT_FIRST);
    answer = gst_caps_merge(answer, gst_caps_ref(offered));
    gst_query_set_caps_result(query, answer);
    gst_caps_unref(answer);
    return GST_PAD_PROBE_HANDLED;
}

// The camera's element asked for its best mode; its frames are decoded, when they need it,
// where the source is opened.
GstElement* cameraBin(GstDevice* device, int32_t width, int32_t height, std::string& error) {
    GstCaps* offered = gst_device_get_caps(device);
    GstCaps* mode = cameraMode(offered, width, height);
    if (offered)
        gst_caps_unref(offered);
    if (!mode) {
        error = "offers no video frames it could show";
        return nullptr;
    }
    GstElement* source = gst_device_create_element(device, nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* bin = GST_ELEMENT(gst_object_ref_sink(gst_bin_new(nullptr)));
    bool made = source && filter;
    for (GstElement* element : {source, filter})
        if (element)
            gst_bin_add(GST_BIN(bin), element);
    if (made) {
        g_object_set(filter, "caps", mode, nullptr);
        made = gst_element_link(source, filter) && addGhostPad(bin, "src", filter, "src");
    }
    gst_caps_unref(mode);
    if (!made) {
        error = "could not be made";
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
    GstElement* exit = gst_bin_get_by_name(GST_BIN(bin), kFormatName);
    GstPad* pad = gst_element_get_static_pad(exit, "sink");
    // The frame's own format first: a source that gives it needs no conversion, whose rounding
    // differs between GStreamer's versions; then any raw format of the wanted size.
    gchar* text =
        g_strdup_printf("video/x-raw,format=BGR,width=%d,height=%d; video/x-raw,width=%d,height=%d",
                        width, height, width, height);
    GstCaps* wanted = gst_caps_from_string(text);
    g_free(text);
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, preferSize, wanted,
                      reinterpret_cast<GDestroyNotify>(gst_caps_unref));
    gst_object_unref(pad);
    gst_object_unref(exit);
    return bin;
}

} // namespace capture

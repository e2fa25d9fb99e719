// What a camera offers: whether it can be shown at all, whether only in grey, and the mode it is
// asked for.
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <gst/video/video.h>

namespace capture {

namespace {

const int kHighestFrameRate = 60;

// Of the values a field allows (one, a list or a range), the one nearest above wanted; the
// largest when none reaches it.
int pickSize(const GValue* value, int wanted) {
    if (G_VALUE_HOLDS_INT(value))
        return g_value_get_int(value);
    if (GST_VALUE_HOLDS_INT_RANGE(value)) {
        const int low = gst_value_get_int_range_min(value);
        const int high = gst_value_get_int_range_max(value);
        return wanted < low ? low : wanted > high ? high : wanted;
    }
    int best = -1;
    if (GST_VALUE_HOLDS_LIST(value))
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            const int size = pickSize(gst_value_list_get_value(value, i), wanted);
            const bool better = best < 0 || (size >= wanted ? best < wanted || size < best
                                                            : best < wanted && size > best);
            if (better)
                best = size;
        }
    return best;
}

// The highest frame rate the field allows up to the highest wanted, as a double; with it, the
// fraction itself.
double pickRate(const GValue* value, int& num, int& den) {
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        num = gst_value_get_fraction_numerator(value);
        den = gst_value_get_fraction_denominator(value);
        return den > 0 ? static_cast<double>(num) / den : 0;
    }
    if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
        double high = pickRate(gst_value_get_fraction_range_max(value), num, den);
        if (high > kHighestFrameRate) {
            num = kHighestFrameRate;
            den = 1;
            high = kHighestFrameRate;
        }
        return high;
    }
    double best = -1;
    if (GST_VALUE_HOLDS_LIST(value))
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            int n = 0, d = 1;
            const double rate = pickRate(gst_value_list_get_value(value, i), n, d);
            const bool better =
                best < 0 || (rate <= kHighestFrameRate ? best > kHighestFrameRate || rate > best
                                                       : best > kHighestFrameRate && rate < best);
            if (better) {
                best = rate;
                num = n;
                den = d;
            }
        }
    return best;
}

// Whether some decoder GStreamer has installed takes frames of this kind.
bool decodable(const GstStructure* kind) {
    GList* decoders =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
    GstCaps* caps = gst_caps_new_full(gst_structure_copy(kind), nullptr);
    GList* taking = gst_element_factory_list_filter(decoders, caps, GST_PAD_SINK, FALSE);
    const bool found = taking != nullptr;
    gst_plugin_feature_list_free(taking);
    gst_plugin_feature_list_free(decoders);
    gst_caps_unref(caps);
    return found;
}

bool showable(const GstStructure* kind) {
    return gst_structure_has_name(kind, "video/x-raw") || decodable(kind);
}

// Whether a raw format field names greyscale formats only.
bool greyFormats(const GValue* format) {
    if (G_VALUE_HOLDS_STRING(format)) {
        const GstVideoFormat video = gst_video_format_from_string(g_value_get_string(format));
        return video != GST_VIDEO_FORMAT_UNKNOWN &&
               GST_VIDEO_FORMAT_INFO_IS_GRAY(gst_video_format_get_info(video));
    }
    if (!GST_VALUE_HOLDS_LIST(format) || gst_value_list_get_size(format) == 0)
        return false;
    for (guint i = 0; i < gst_value_list_get_size(format); ++i)
        if (!greyFormats(gst_value_list_get_value(format, i)))
            return false;
    return true;
}

// One mode a camera offers, fixed, and how well it fits what is wanted.
struct Mode {
    const char* kind = "video/x-raw"; // the caps name: raw, or an encoding
    bool raw = false;
    int width = 0, height = 0;
    int rateNum = 0, rateDen = 1;
    double rate = -1;

    bool reaches(int wantedWidth, int wantedHeight) const {
        return width >= wantedWidth && height >= wantedHeight;
    }
    // Raw before encoded; then a size that reaches the wanted one, the smallest such; else the
    // largest; then the highest frame rate up to the highest wanted.
    bool betterThan(const Mode& other, int wantedWidth, int wantedHeight) const {
        if (raw != other.raw)
            return raw;
        const bool reach = reaches(wantedWidth, wantedHeight);
        const bool otherReach = other.reaches(wantedWidth, wantedHeight);
        if (reach != otherReach)
            return reach;
        const long area = static_cast<long>(width) * height;
        const long otherArea = static_cast<long>(other.width) * other.height;
        if (area != otherArea)
            return reach ? area < otherArea : area > otherArea;
        const bool slow = rate <= kHighestFrameRate, otherSlow = other.rate <= kHighestFrameRate;
        if (slow != otherSlow)
            return slow;
        return slow ? rate > other.rate : rate < other.rate;
    }
};

} // namespace

bool canCapture(GstDevice* device) {
    GstCaps* caps = gst_device_get_caps(device);
    bool usable = false;
    for (guint i = 0; caps && i < gst_caps_get_size(caps) && !usable; ++i)
        usable = showable(gst_caps_get_structure(caps, i));
    if (caps)
        gst_caps_unref(caps);
    return usable;
}

bool offersGreyOnly(GstDevice* device) {
    GstCaps* caps = gst_device_get_caps(device);
    bool grey = caps && gst_caps_get_size(caps) > 0;
    for (guint i = 0; grey && i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        const GValue* format = gst_structure_get_value(s, "format");
        grey = gst_structure_has_name(s, "video/x-raw") && format && greyFormats(format);
    }
    if (caps)
        gst_caps_unref(caps);
    return grey;
}

GstCaps* cameraMode(GstCaps* offered, int32_t width, int32_t height) {
    Mode best;
    bool found = false;
    for (guint i = 0; offered && i < gst_caps_get_size(offered); ++i) {
        const GstStructure* s = gst_caps_get_structure(offered, i);
        const bool raw = gst_structure_has_name(s, "video/x-raw");
        if (!raw && !decodable(s))
            continue;
        const GValue* w = gst_structure_get_value(s, "width");
        const GValue* h = gst_structure_get_value(s, "height");
        const GValue* r = gst_structure_get_value(s, "framerate");
        Mode mode;
        mode.kind = gst_structure_get_name(s);
        mode.raw = raw;
        mode.width = w ? pickSize(w, width) : width;
        mode.height = h ? pickSize(h, height) : height;
        mode.rate = r ? pickRate(r, mode.rateNum, mode.rateDen) : -1;
        if (mode.width <= 0 || mode.height <= 0)
            continue;
        if (!found || mode.betterThan(best, width, height))
            best = mode;
        found = true;
    }
    if (!found)
        return nullptr;
    GstCaps* caps = gst_caps_new_simple(best.kind, "width", G_TYPE_INT, best.width, "height",
                                        G_TYPE_INT, best.height, nullptr);
    if (best.rate > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, best.rateNum, best.rateDen,
                            nullptr);
    return caps;
}

} // namespace capture

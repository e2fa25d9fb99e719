// The mode a camera is asked for, from the modes it offers.
#include "platform/capture_sources_gstreamer.h"

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

// One mode a camera offers, fixed, and how well it fits what is wanted.
struct Mode {
    bool raw = false;
    int width = 0, height = 0;
    int rateNum = 0, rateDen = 1;
    double rate = -1;

    bool reaches(int wantedWidth, int wantedHeight) const {
        return width >= wantedWidth && height >= wantedHeight;
    }
    // Raw before JPEG; then a size that reaches the wanted one, the smallest such; else the
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
    if (caps) {
        for (guint i = 0; i < gst_caps_get_size(caps) && !usable; ++i) {
            const GstStructure* s = gst_caps_get_structure(caps, i);
            usable =
                gst_structure_has_name(s, "video/x-raw") || gst_structure_has_name(s, "image/jpeg");
        }
        gst_caps_unref(caps);
    }
    return usable;
}

GstCaps* cameraMode(GstCaps* offered, int32_t width, int32_t height) {
    Mode best;
    bool found = false;
    for (guint i = 0; offered && i < gst_caps_get_size(offered); ++i) {
        const GstStructure* s = gst_caps_get_structure(offered, i);
        const bool raw = gst_structure_has_name(s, "video/x-raw");
        if (!raw && !gst_structure_has_name(s, "image/jpeg"))
            continue;
        const GValue* w = gst_structure_get_value(s, "width");
        const GValue* h = gst_structure_get_value(s, "height");
        const GValue* r = gst_structure_get_value(s, "framerate");
        Mode mode;
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
    GstCaps* caps =
        gst_caps_new_simple(best.raw ? "video/x-raw" : "image/jpeg", "width", G_TYPE_INT,
                            best.width, "height", G_TYPE_INT, best.height, nullptr);
    if (best.rate > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, best.rateNum, best.rateDen,
                            nullptr);
    return caps;
}

} // namespace capture

// The fake camera's picture source: draws the disc once per negotiated format, stamps each frame
// on the pipeline clock, and acts out its kind's open delay and faults.
#include "fakecam_picture.h"

#include "fakecam_kinds.h"
#include "fakecam_provider.h"

#include <gst/video/video.h>

#include <cerrno>
#include <cmath>
#include <cstring>

struct _FakeCamPicture {
    GstPushSrc parent;
    const FakeCamKind* kind; // null while the "kind" property names no kind
    gchar* kindName;         // the "kind" property as set
    gchar* device;           // the "device" property: the path in error messages
    GstVideoInfo info;       // the negotiated format
    guint8* frame;           // one drawn frame of info.size bytes
    guint64 frames;          // frames delivered since the source started
    double dropoutSeconds;   // running time of the dropout kind before its read error
};

G_DEFINE_TYPE(FakeCamPicture, fakecam_picture, GST_TYPE_PUSH_SRC)

namespace {

enum { PROP_0, PROP_KIND, PROP_DEVICE };

const guint8 kGrey = 128;          // chroma of any grey
const guint8 kInfraRedWhite = 150; // the luma of white on a greyscale-only camera

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ YUY2, I420, GRAY8 }")));

// Whether pixel (x, y) lies in the disc.
bool inDisc(int x, int y, int width, int height) {
    const double dx = x + 0.5 - width / 2.0;
    const double dy = y + 0.5 - height / 2.0;
    const double radius = 0.3 * height;
    return dx * dx + dy * dy <= radius * radius;
}

// The chroma of the picture's white: neutral, or light cyan for a camera that drops out, so that
// a test can tell its last picture from the next camera's.
struct Tint {
    guint8 u, v;
};
const Tint kNeutral = {kGrey, kGrey};
const Tint kCyan = {176, 96};

void drawPicture(GstVideoFrame* frame, Tint tint) {
    const int width = GST_VIDEO_FRAME_WIDTH(frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(frame);
    // Black and white in the frame's luma range: full for JPEG, 16 to 235 otherwise. An
    // infra-red camera's white is a middle grey, so that a test can tell its picture apart.
    const bool full = GST_VIDEO_INFO_COLORIMETRY(&frame->info).range == GST_VIDEO_COLOR_RANGE_0_255;
    const bool grey = GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_GRAY8;
    const guint8 black = full ? 0 : 16;
    const guint8 white = grey ? kInfraRedWhite : full ? 255 : 235;
    auto lumaAt = [&](int x, int y) { return inDisc(x, y, width, height) ? black : white; };
    auto* luma = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
    const bool packed = GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_YUY2;
    for (int y = 0; y < height; ++y) {
        guint8* row = luma + y * stride;
        for (int x = 0; x < width; ++x) {
            if (packed) {
                row[2 * x] = lumaAt(x, y);
                row[2 * x + 1] = x % 2 == 0 ? tint.u : tint.v;
            } else {
                row[x] = lumaAt(x, y);
            }
        }
    }
    for (guint plane = 1; plane < GST_VIDEO_FRAME_N_PLANES(frame); ++plane) {
        auto* data = static_cast<guint8*>(GST_VIDEO_FRAME_PLANE_DATA(frame, plane));
        const int planeStride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, plane);
        for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(frame, plane); ++y)
            std::memset(data + y * planeStride, plane == 1 ? tint.u : tint.v,
                        GST_VIDEO_FRAME_COMP_WIDTH(frame, plane));
    }
}

// When frame number frames is shot, counted from the first, without accumulated rounding.
GstClockTime frameTime(const GstVideoInfo& info, guint64 frames) {
    return gst_util_uint64_scale(frames * GST_SECOND, GST_VIDEO_INFO_FPS_D(&info),
                                 GST_VIDEO_INFO_FPS_N(&info));
}

GstClockTime frameDuration(const GstVideoInfo& info) {
    return frameTime(info, 1);
}

// Whether the camera is still held by another program: for the busy-for-a-while kind, how far
// into its busy time the process is (0 to 1), else -1.
double busyPart(const FakeCamKind& kind) {
    if (kind.fault != FakeCamFault::BusyAWhile)
        return -1;
    const double busy = fakeCamSeconds("VELMORA_FAKE_BUSY_SECONDS", 4.0);
    const double part = busy > 0 ? fakeCamSecondsSinceStart() / busy : 1;
    return part < 1 ? part : -1;
}

bool failOpen(FakeCamPicture* self) {
    if (!self->kind) {
        GST_ELEMENT_ERROR(
            self, RESOURCE, NOT_FOUND,
            ("No fake camera kind \"%s\" (kinds: %s)", self->kindName, fakeCamKindList().c_str()),
            (nullptr));
        return true;
    }
    if (self->kind->fault == FakeCamFault::OpenFails || !fakeCamHere(*self->kind, self->device)) {
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ_WRITE,
                          ("Cannot open device '%s'", self->device),
                          ("fake camera of kind %s", self->kind->keyword));
        return true;
    }
    const double busy = busyPart(*self->kind);
    if (busy >= 0 && busy < 0.5) {
        // As V4L2 says it when another program holds the device.
        GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ_WRITE,
                          ("Could not open device '%s' for reading and writing.", self->device),
                          ("system error: %s", g_strerror(EBUSY)));
        return true;
    }
    return false;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
    auto* self = FAKECAM_PICTURE(element);
    if (transition == GST_STATE_CHANGE_NULL_TO_READY) {
        if (failOpen(self))
            return GST_STATE_CHANGE_FAILURE;
        if (self->kind->openSeconds > 0) // a slow driver: the open call itself blocks
            g_usleep(static_cast<gulong>(self->kind->openSeconds * G_USEC_PER_SEC));
    }
    return GST_ELEMENT_CLASS(fakecam_picture_parent_class)->change_state(element, transition);
}

GstCaps* fixate(GstBaseSrc* source, GstCaps* caps) {
    caps = gst_caps_make_writable(caps);
    GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_fixate_field_nearest_int(s, "width", 320);
    gst_structure_fixate_field_nearest_int(s, "height", 240);
    gst_structure_fixate_field_nearest_fraction(s, "framerate", 30, 1);
    return GST_BASE_SRC_CLASS(fakecam_picture_parent_class)->fixate(source, caps);
}

gboolean setCaps(GstBaseSrc* source, GstCaps* caps) {
    auto* self = FAKECAM_PICTURE(source);
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) || GST_VIDEO_INFO_FPS_N(&info) <= 0)
        return FALSE;
    g_free(self->frame);
    self->info = info;
    self->frame = static_cast<guint8*>(g_malloc(info.size));
    GstVideoFrame frame;
    GstBuffer* wrapped = gst_buffer_new_wrapped_full(GstMemoryFlags(0), self->frame, info.size, 0,
                                                     info.size, nullptr, nullptr);
    gst_video_frame_map(&frame, &info, wrapped, GST_MAP_WRITE);
    const bool dropsOut = self->kind && self->kind->fault == FakeCamFault::Dropout;
    drawPicture(&frame, dropsOut ? kCyan : kNeutral);
    gst_video_frame_unmap(&frame);
    gst_buffer_unref(wrapped);
    gst_base_src_set_blocksize(source, info.size);
    return TRUE;
}

gboolean start(GstBaseSrc* source) {
    auto* self = FAKECAM_PICTURE(source);
    self->frames = 0;
    self->dropoutSeconds = fakeCamSeconds("VELMORA_FAKE_DROPOUT_SECONDS", 3.0);
    return TRUE;
}

// A live source is synchronised on its frames' times by the base class.
void getTimes(GstBaseSrc*, GstBuffer* buffer, GstClockTime* start, GstClockTime* end) {
    *start = GST_BUFFER_PTS(buffer);
    *end = *start + GST_BUFFER_DURATION(buffer);
}

gboolean query(GstBaseSrc* source, GstQuery* query) {
    auto* self = FAKECAM_PICTURE(source);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY && GST_VIDEO_INFO_FPS_N(&self->info) > 0) {
        const GstClockTime duration = frameDuration(self->info); // a frame exists once shot
        gst_query_set_latency(query, TRUE, duration, duration);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(fakecam_picture_parent_class)->query(source, query);
}

GstFlowReturn fill(GstPushSrc* source, GstBuffer* buffer) {
    auto* self = FAKECAM_PICTURE(source);
    const GstClockTime time = frameTime(self->info, self->frames);
    const FakeCamFault fault = self->kind->fault;
    if ((fault == FakeCamFault::Busy || busyPart(*self->kind) >= 0) && self->frames == 0) {
        GST_ELEMENT_ERROR(self, RESOURCE, BUSY, ("Device '%s' is busy", self->device),
                          ("fake camera of kind %s", self->kind->keyword));
        return GST_FLOW_ERROR;
    }
    if (fault == FakeCamFault::Eos && self->frames == 0)
        return GST_FLOW_EOS;
    if (fault == FakeCamFault::Dropout &&
        time >= static_cast<GstClockTime>(std::llround(self->dropoutSeconds * GST_SECOND))) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Could not read from resource."),
                          ("fake camera of kind %s on %s dropped out after %.3g s",
                           self->kind->keyword, self->device, self->dropoutSeconds));
        fakeCamDeviceGone(self->device);
        return GST_FLOW_ERROR;
    }
    // Pulled out while streaming: the provider announces the removal by itself.
    if (fault == FakeCamFault::Unplugged && !fakeCamPluggedIn()) {
        GST_ELEMENT_ERROR(
            self, RESOURCE, READ, ("Could not read from resource."),
            ("fake camera of kind %s on %s was unplugged", self->kind->keyword, self->device));
        return GST_FLOW_ERROR;
    }
    gst_buffer_fill(buffer, 0, self->frame, self->info.size);
    GST_BUFFER_PTS(buffer) = time;
    GST_BUFFER_DURATION(buffer) = frameTime(self->info, self->frames + 1) - time;
    GST_BUFFER_OFFSET(buffer) = self->frames;
    GST_BUFFER_OFFSET_END(buffer) = ++self->frames;
    return GST_FLOW_OK;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* param) {
    auto* self = FAKECAM_PICTURE(object);
    if (id == PROP_KIND) {
        g_free(self->kindName);
        self->kindName = g_value_dup_string(value);
        self->kind = fakeCamKind(self->kindName);
    } else if (id == PROP_DEVICE) {
        g_free(self->device);
        self->device = g_value_dup_string(value);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* param) {
    auto* self = FAKECAM_PICTURE(object);
    if (id == PROP_KIND)
        g_value_set_string(value, self->kindName);
    else if (id == PROP_DEVICE)
        g_value_set_string(value, self->device);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

void finalize(GObject* object) {
    auto* self = FAKECAM_PICTURE(object);
    g_free(self->kindName);
    g_free(self->device);
    g_free(self->frame);
    G_OBJECT_CLASS(fakecam_picture_parent_class)->finalize(object);
}

} // namespace

static void fakecam_picture_class_init(FakeCamPictureClass* klass) {
    auto* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        objectClass, PROP_KIND,
        g_param_spec_string("kind", "Kind", "Which fake camera this is", "raw", flags));
    g_object_class_install_property(objectClass, PROP_DEVICE,
                                    g_param_spec_string("device", "Device",
                                                        "The device path it answers to",
                                                        "/dev/video0", flags));

    auto* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(elementClass, "Velmora fake camera picture",
                                          "Source/Video", "A black disc on white, live",
                                          "Velmora developers");
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    elementClass->change_state = changeState;

    auto* baseClass = GST_BASE_SRC_CLASS(klass);
    baseClass->fixate = fixate;
    baseClass->set_caps = setCaps;
    baseClass->start = start;
    baseClass->get_times = getTimes;
    baseClass->query = query;
    GST_PUSH_SRC_CLASS(klass)->fill = fill;
}

static void fakecam_picture_init(FakeCamPicture* self) {
    self->kindName = g_strdup("raw");
    self->kind = fakeCamKind(self->kindName);
    self->device = g_strdup("/dev/video0");
    gst_video_info_init(&self->info);
    gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

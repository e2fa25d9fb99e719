// The fake camera element: the picture source, an encoder for the MJPEG kind, and a caps filter
// holding the output to the advertised modes, rebuilt whenever the kind changes.
#include "fakecam_source.h"

#include "fakecam_kinds.h"
#include "fakecam_picture.h"

struct _FakeCamSource {
    GstBin parent;
    gchar* kindName; // the "kind" property
    gchar* device;   // the "device" property
    GstPad* src;     // the ghost pad, retargeted on each rebuild
};

G_DEFINE_TYPE(FakeCamSource, fakecam_source, GST_TYPE_BIN)

namespace {

enum { PROP_0, PROP_KIND, PROP_DEVICE };

GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-raw, format=(string){ YUY2, GRAY8 }; image/jpeg"));

void removeChildren(GstBin* bin) {
    while (GST_BIN_CHILDREN(bin))
        gst_bin_remove(bin, GST_ELEMENT(GST_BIN_CHILDREN(bin)->data));
}

// Builds the chain for the current kind; an unknown kind gets the raw chain, whose picture source
// then refuses to open and says why.
void rebuild(FakeCamSource* self) {
    GstBin* bin = GST_BIN(self);
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->src), nullptr);
    removeChildren(bin);

    const FakeCamKind* kind = fakeCamKind(self->kindName);
    const FakeCamKind* shape = kind ? kind : fakeCamKind("raw");
    GstElement* picture =
        GST_ELEMENT(g_object_new(FAKECAM_TYPE_PICTURE, "name", "picture", "kind", self->kindName,
                                 "device", self->device, nullptr));
    GstElement* modes = gst_element_factory_make("capsfilter", "modes");
    const bool jpeg = shape->modes == FakeCamModes::Jpeg43;
    GstElement* fullRange = jpeg ? gst_element_factory_make("capsfilter", "full-range") : nullptr;
    GstElement* encoder = jpeg ? gst_element_factory_make("jpegenc", "encoder") : nullptr;
    if (!modes || (jpeg && (!fullRange || !encoder))) {
        g_printerr("velmorafakecam: the capsfilter or jpegenc element is not installed\n");
        for (GstElement* element : {picture, modes, fullRange, encoder})
            if (element)
                gst_object_unref(gst_object_ref_sink(element));
        return;
    }
    GstCaps* caps = fakeCamCaps(*shape);
    g_object_set(modes, "caps", caps, nullptr);
    gst_caps_unref(caps);

    gst_bin_add_many(bin, picture, modes, nullptr);
    if (jpeg) {
        // JPEG holds full-range luma; the picture is drawn in the range it is asked for.
        caps = gst_caps_from_string("video/x-raw, format=I420, colorimetry=(string)1:4:0:0");
        g_object_set(fullRange, "caps", caps, nullptr);
        gst_caps_unref(caps);
        gst_bin_add_many(bin, fullRange, encoder, nullptr);
        gst_element_link_many(picture, fullRange, encoder, modes, nullptr);
    } else {
        gst_element_link(picture, modes);
    }
    GstPad* out = gst_element_get_static_pad(modes, "src");
    gst_ghost_pad_set_target(GST_GHOST_PAD(self->src), out);
    gst_object_unref(out);
}

// Errors are posted in the element's own name, as a camera source element posts them, so that
// a caller can match them to the element it made.
void handleMessage(GstBin* bin, GstMessage* message) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR &&
        GST_MESSAGE_SRC(message) != GST_OBJECT(bin)) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        gst_message_unref(message);
        message = gst_message_new_error(GST_OBJECT(bin), error, debug);
        g_error_free(error);
        g_free(debug);
    }
    GST_BIN_CLASS(fakecam_source_parent_class)->handle_message(bin, message);
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* param) {
    auto* self = FAKECAM_SOURCE(object);
    if (id == PROP_KIND) {
        g_free(self->kindName);
        self->kindName = g_value_dup_string(value);
    } else if (id == PROP_DEVICE) {
        g_free(self->device);
        self->device = g_value_dup_string(value);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
        return;
    }
    rebuild(self);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* param) {
    auto* self = FAKECAM_SOURCE(object);
    if (id == PROP_KIND)
        g_value_set_string(value, self->kindName);
    else if (id == PROP_DEVICE)
        g_value_set_string(value, self->device);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, param);
}

void finalize(GObject* object) {
    auto* self = FAKECAM_SOURCE(object);
    g_free(self->kindName);
    g_free(self->device);
    G_OBJECT_CLASS(fakecam_source_parent_class)->finalize(object);
}

} // namespace

static void fakecam_source_class_init(FakeCamSourceClass* klass) {
    auto* objectClass = G_OBJECT_CLASS(klass);
    objectClass->set_property = setProperty;
    objectClass->get_property = getProperty;
    objectClass->finalize = finalize;
    // Only while the element is stopped: setting either rebuilds the bin's insides.
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    const std::string kinds = "Which fake camera this is: " + fakeCamKindList();
    g_object_class_install_property(
        objectClass, PROP_KIND,
        g_param_spec_string("kind", "Kind", g_intern_string(kinds.c_str()), "raw", flags));
    g_object_class_install_property(objectClass, PROP_DEVICE,
                                    g_param_spec_string("device", "Device",
                                                        "The device path its errors name",
                                                        "/dev/video0", flags));

    auto* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        elementClass, "Velmora fake camera", "Source/Video",
        "A stand-in camera for tests: a black disc on white, and a camera's ways of failing",
        "Velmora developers");
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    GST_BIN_CLASS(klass)->handle_message = handleMessage;
}

static void fakecam_source_init(FakeCamSource* self) {
    self->kindName = g_strdup("raw");
    self->device = g_strdup("/dev/video0");
    GstPadTemplate* pads = gst_static_pad_template_get(&srcTemplate);
    self->src = gst_ghost_pad_new_no_target_from_template("src", pads);
    gst_object_unref(pads);
    gst_element_add_pad(GST_ELEMENT(self), self->src);
    rebuild(self);
}

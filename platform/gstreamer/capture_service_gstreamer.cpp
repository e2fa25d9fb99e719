// The capture service on GStreamer: start-up and the making of objects, by the service's own
// classes or by class objects a test registered.
#include "platform/gstreamer/capture_gstreamer.h"
#include "platform/utf8.h"

#include <vector>

namespace {

std::atomic<bool> initialized{false};

struct Registration {
    CLSID clsid;
    IClassFactory* factory;
    DWORD context; // the class contexts it serves
    DWORD cookie;
};

// Process-wide lists, never destroyed: they must outlive the static destructors that run
// at exit.
std::vector<Registration>& registrations() {
    static auto* list = new std::vector<Registration>;
    return *list;
}

} // namespace

namespace capture {

std::string utf8FromWide(LPCWSTR text) {
    std::string out;
    for (const WCHAR* p = text; p && *p; ++p) {
        uint32_t code = *p;
        if (code >= 0xD800 && code <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        platform::appendUtf8(out, code);
    }
    return out;
}

} // namespace capture

HRESULT CoInitialize(LPVOID reserved) {
    if (reserved)
        return E_INVALIDARG;
    if (initialized)
        return S_FALSE;
    GError* error = nullptr;
    if (!gst_init_check(nullptr, nullptr, &error)) {
        if (error)
            g_error_free(error);
        return E_FAIL;
    }
    initialized = true;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         LPVOID* object) {
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!initialized)
        return CO_E_NOTINITIALIZED;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    // A registered class is made only by its class object, and only for a context it serves.
    const std::vector<Registration>& list = registrations();
    for (auto it = list.rbegin(); it != list.rend(); ++it)
        if (it->clsid == clsid)
            return (context & it->context) ? it->factory->CreateInstance(nullptr, iid, object)
                                           : REGDB_E_CLASSNOTREG;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;

    IUnknown* made = nullptr;
    if (clsid == CLSID_FilterGraph)
        made = capture::newFilterGraph();
    else if (clsid == CLSID_SystemDeviceEnum)
        made = capture::newDeviceEnumerator();
    else if (clsid == CLSID_CaptureGraphBuilder2)
        made = capture::newCaptureGraphBuilder();
    else if (clsid == CLSID_SampleGrabber)
        made = static_cast<IBaseFilter*>(capture::newSampleGrabber());
    else if (clsid == CLSID_NullRenderer)
        made = static_cast<IBaseFilter*>(capture::newNullRenderer());
    else
        return REGDB_E_CLASSNOTREG;
    if (!made)
        return E_FAIL; // GStreamer lacks an element the class needs
    const HRESULT result = made->QueryInterface(iid, object);
    made->Release();
    return result;
}

HRESULT CoRegisterClassObject(REFCLSID clsid, IClassFactory* factory, DWORD context,
                              DWORD* cookie) {
    if (!factory || !cookie)
        return E_POINTER;
    if (!initialized)
        return CO_E_NOTINITIALIZED;
    static DWORD lastCookie = 0;
    factory->AddRef();
    *cookie = ++lastCookie;
    registrations().push_back({clsid, factory, context, *cookie});
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    std::vector<Registration>& list = registrations();
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->cookie == cookie) {
            IClassFactory* factory = it->factory;
            list.erase(it);
            factory->Release();
            return S_OK;
        }
    return E_INVALIDARG;
}

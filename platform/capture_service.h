// The video capture service in the shape of the Windows one (COM and DirectShow names and
// meanings), holding only what the capture graph and the frame copy use. The interfaces are
// abstract, so a test can put filters and pins of its own into a graph; the implementation in
// gstreamer/capture_service_gstreamer.cpp backs them with GStreamer: the filter graph is a
// pipeline, a filter an element, a pin a pad.
#pragma once

#include <cstdint>

typedef int32_t HRESULT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t BOOL;
typedef int64_t REFERENCE_TIME; // 100-nanosecond units
typedef int64_t LONGLONG;
typedef char16_t WCHAR; // names in the graph are 16-bit strings
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

// Result codes.
const HRESULT S_OK = 0;
const HRESULT S_FALSE = 1; // success, with a reservation (e.g. an enumeration ran out)
const HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
const HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
const HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
const HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
const HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
const HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
const HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
const HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
const HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
const HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0);
const HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204);
const HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227); // no frame held yet

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
inline bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}

// Classes.
inline const CLSID CLSID_FilterGraph = {
    0xe436ebb3, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline const CLSID CLSID_SystemDeviceEnum = {
    0x62be5d10, 0x60eb, 0x11d0, {0xbd, 0x3b, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
inline const CLSID CLSID_VideoInputDeviceCategory = {
    0x860bb310, 0x5d01, 0x11d0, {0xbd, 0x3b, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
inline const CLSID CLSID_CaptureGraphBuilder2 = {
    0xbf87b6e1, 0x8c27, 0x11d0, {0xb3, 0xf0, 0x00, 0xaa, 0x00, 0x37, 0x61, 0xc5}};
inline const CLSID CLSID_SampleGrabber = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
inline const CLSID CLSID_NullRenderer = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

// Interfaces.
inline const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline const IID IID_IGraphBuilder = {
    0x56a868a9, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline const IID IID_ICreateDevEnum = {
    0x29840822, 0x5b84, 0x11d0, {0xbd, 0x3b, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};
inline const IID IID_IBaseFilter = {
    0x56a86895, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline const IID IID_ICaptureGraphBuilder2 = {
    0x93e5a4e0, 0x2d50, 0x11d2, {0xab, 0xfa, 0x00, 0xa0, 0xc9, 0xc6, 0xe3, 0x8d}};
inline const IID IID_ISampleGrabber = {
    0x6b652fff, 0x11fe, 0x4fce, {0x92, 0xad, 0x02, 0x66, 0xb5, 0xd7, 0xc7, 0x8f}};
inline const IID IID_IAMStreamConfig = {
    0xc6e13340, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
// Not a Windows interface: the grabber's account of how fresh its frames are.
inline const IID IID_IFrameArrival = {
    0x3f0c6a52, 0x8e1d, 0x4b7a, {0x9c, 0x25, 0x61, 0xd4, 0x0b, 0x7e, 0x93, 0xa8}};
// Not a Windows interface: a capture source's choice among the video sources it may show.
inline const IID IID_ISourceChoice = {
    0x7d2e9a41, 0x5c3b, 0x4f86, {0xa1, 0x0e, 0x93, 0x4b, 0x27, 0xc8, 0x5d, 0x16}};
inline const IID IID_IMediaControl = {
    0x56a868b1, 0x0ad4, 0x11ce, {0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};

// Media types, formats and pin categories.
inline const GUID MEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline const GUID MEDIASUBTYPE_RGB24 = {
    0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline const GUID FORMAT_VideoInfo = {
    0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
inline const GUID PIN_CATEGORY_PREVIEW = {
    0xfb6c4282, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};

// Class contexts for CoCreateInstance.
const DWORD CLSCTX_INPROC_SERVER = 0x1;
const DWORD CLSCTX_INPROC_HANDLER = 0x2;

const DWORD BI_RGB = 0; // uncompressed bitmap rows

enum PIN_DIRECTION : int32_t { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct BITMAPINFOHEADER {
    DWORD biSize;         // size of this header in bytes (40)
    LONG biWidth;         // frame width in pixels
    LONG biHeight;        // frame height in pixels; positive: bottom row first
    WORD biPlanes;        // always 1
    WORD biBitCount;      // bits a pixel (24 for RGB24)
    DWORD biCompression;  // BI_RGB for uncompressed rows
    DWORD biSizeImage;    // bytes a frame
    LONG biXPelsPerMeter; // unused, 0
    LONG biYPelsPerMeter; // unused, 0
    DWORD biClrUsed;      // unused, 0
    DWORD biClrImportant; // unused, 0
};

struct VIDEOINFOHEADER {
    RECT rcSource;                  // part of the source to use; empty: all of it
    RECT rcTarget;                  // part of the destination to fill; empty: all of it
    DWORD dwBitRate;                // bits a second
    DWORD dwBitErrorRate;           // bit errors a second
    REFERENCE_TIME AvgTimePerFrame; // frame interval, 100-nanosecond units
    BITMAPINFOHEADER bmiHeader;     // the frame's size and pixel layout
};

struct IUnknown;

struct AM_MEDIA_TYPE {
    GUID majortype;            // MEDIATYPE_Video
    GUID subtype;              // MEDIASUBTYPE_RGB24 for 3-byte BGR pixels
    BOOL bFixedSizeSamples;    // every sample the same size
    BOOL bTemporalCompression; // samples depend on earlier ones
    ULONG lSampleSize;         // bytes a sample, 0 when not fixed
    GUID formattype;           // FORMAT_VideoInfo when pbFormat is a VIDEOINFOHEADER
    IUnknown* pUnk;            // unused, null
    ULONG cbFormat;            // bytes in pbFormat
    BYTE* pbFormat;            // the format block, or null
};

struct IBindCtx; // never used: bind contexts are always null here

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;  // returns the new count
    virtual ULONG Release() = 0; // returns the new count; the object is gone at 0
  protected:
    ~IUnknown() = default; // objects go only through Release
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
};

struct IPin : IUnknown {
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
};

struct IEnumPins : IUnknown {
    // Up to count pins, each with a reference for the caller; S_FALSE when fewer were left.
    virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
};

struct IBaseFilter : IUnknown {
    virtual HRESULT EnumPins(IEnumPins** pins) = 0; // the pins in the filter's own order
};

struct IMoniker : IUnknown {
    // Makes the device's object (IID_IBaseFilter: its capture filter). Context and left
    // moniker must be null.
    virtual HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) = 0;
};

struct IEnumMoniker : IUnknown {
    virtual HRESULT Next(ULONG count, IMoniker** monikers, ULONG* fetched) = 0;
};

struct ICreateDevEnum : IUnknown {
    // The devices of a category, in order; S_FALSE and a null enumerator when there are none.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** monikers,
                                          DWORD flags) = 0;
};

struct IGraphBuilder : IUnknown {
    // Adds a filter under a name (a 16-bit string, or null for a made-up one).
    virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
    // Joins an output pin to an input pin, putting in whatever conversion lies between.
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
};

struct IMediaControl : IUnknown {
    // Starts the graph; S_FALSE when it is still on its way to running.
    virtual HRESULT Run() = 0;
};

struct IAMStreamConfig : IUnknown {
    // The current format, allocated with malloc (type and format block apart); the caller frees.
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** type) = 0;
    // Asks the device for a format; only FORMAT_VideoInfo, before the pin is connected.
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* type) = 0;
};

struct ICaptureGraphBuilder2 : IUnknown {
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    // Asks the filter itself for the interface; category and type narrow nothing here.
    virtual HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter,
                                  REFIID iid, void** object) = 0;
    // Renders the first free output pin of source into renderer, or into a new null renderer
    // when renderer is null; E_FAIL when no output is free, E_NOTIMPL with a compressor,
    // E_UNEXPECTED before SetFiltergraph. Category and type narrow nothing: a source here has
    // capture pins only.
    virtual HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                 IBaseFilter* compressor, IBaseFilter* renderer) = 0;
};

struct ISampleGrabber : IUnknown {
    virtual HRESULT SetOneShot(BOOL oneShot) = 0; // only FALSE: keep going after each sample
    // The type the grabber accepts: MEDIATYPE_Video with MEDIASUBTYPE_RGB24 only.
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT SetBufferSamples(BOOL buffer) = 0; // TRUE: keep the newest sample
    // Copies the newest frame into buffer: bottom row first, rows without gaps, 3 bytes a
    // pixel blue, green, red. *bufferSize is the capacity in bytes and becomes the bytes copied.
    // Returns at once; a frame larger than the capacity is not copied (E_OUTOFMEMORY, size
    // untouched); VFW_E_WRONG_STATE before the first frame. The buffer is bytes here, where
    // Windows types it as long.
    virtual HRESULT GetCurrentBuffer(LONG* bufferSize, BYTE* buffer) = 0;
};

// Not a Windows interface; the sample grabber answers QueryInterface for it. Measures what a
// frame copy hands over, for the benchmark and for diagnosis.
struct IFrameArrival : IUnknown {
    // How long the frame that the latest successful GetCurrentBuffer copied had been with the
    // grabber when that copy began, in 100 ns; VFW_E_WRONG_STATE before any copy.
    virtual HRESULT GetCopiedFrameAge(REFERENCE_TIME* age) = 0;
    // Which frame the latest successful GetCurrentBuffer copied: frames are numbered 1, 2, ... in
    // the order they reached the grabber, so that two copies of the same frame show the same
    // number; VFW_E_WRONG_STATE before any copy.
    virtual HRESULT GetCopiedFrameNumber(LONGLONG* number) = 0;
};

// Not a Windows interface; a capture source answers QueryInterface for it. The user's choice of
// what the source shows.
struct ISourceChoice : IUnknown {
    // Asks for the next video source in order that gives pictures; returns at once, from any
    // thread, without taking a lock or memory. The switch happens on the capture's own thread.
    virtual HRESULT ChooseNextSource() = 0;
};

// Starts the service on the calling thread: S_OK the first time, S_FALSE after, E_FAIL when
// GStreamer cannot start. reserved must be null.
HRESULT CoInitialize(LPVOID reserved);

// Makes an object of a class and returns its interface iid with one reference. Registered
// class objects come first, then the service's own classes. CO_E_NOTINITIALIZED before
// CoInitialize, REGDB_E_CLASSNOTREG for an unknown class or context.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                         LPVOID* object);

// Puts a class object in front of a class, for tests: from then on CoCreateInstance makes clsid
// only through factory, and only when asked for one of the class contexts in context (otherwise
// REGDB_E_CLASSNOTREG). Holds a reference until revoked; *cookie names the registration. The
// Windows call's flags argument is left out.
HRESULT CoRegisterClassObject(REFCLSID clsid, IClassFactory* factory, DWORD context, DWORD* cookie);
HRESULT CoRevokeClassObject(DWORD cookie);

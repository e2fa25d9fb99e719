// The capture graph's calls, checked with filters, pins and the rest of the capture service made
// by the test and put behind the service's interfaces through CoRegisterClassObject.
#include "camera/camera_grid.h"
#include "platform/capture_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> calls; // every logged call of every fake, in order

// Reference counting that never deletes, so a test can read the count when all is done, and
// QueryInterface over the interfaces a fake is given.
template <typename Interface> class Fake : public Interface {
  public:
    explicit Fake(std::string name) : name(std::move(name)) {}
    virtual ~Fake() = default;
    HRESULT QueryInterface(REFIID iid, void** object) override {
        calls.push_back(name + ".QueryInterface");
        return find(iid, object);
    }
    HRESULT find(REFIID iid, void** object) {
        *object = nullptr;
        for (const Exposed& e : exposed)
            if (e.iid == iid) {
                e.counted->AddRef();
                *object = e.pointer;
                return S_OK;
            }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override {
        if (logReleases)
            calls.push_back(name + ".Release");
        return --refs;
    }
    template <typename Other> void expose(REFIID iid, Other* other) {
        exposed.push_back({iid, static_cast<void*>(other), other});
    }

    const std::string name;
    ULONG refs = 1; // the test's own reference
    bool logReleases = false;

  private:
    struct Exposed {
        IID iid;
        void* pointer;
        IUnknown* counted;
    };
    std::vector<Exposed> exposed;
};

struct FakePin : Fake<IPin> {
    FakePin(std::string name, PIN_DIRECTION direction)
        : Fake(std::move(name)), direction(direction) {
        expose(IID_IUnknown, static_cast<IUnknown*>(this));
    }
    HRESULT QueryDirection(PIN_DIRECTION* out) override {
        *out = direction;
        return S_OK;
    }
    const PIN_DIRECTION direction;
};

struct FakePinList : Fake<IEnumPins> {
    explicit FakePinList(std::vector<FakePin*> pins) : Fake("pins"), pins(std::move(pins)) {}
    HRESULT Next(ULONG, IPin** out, ULONG*) override {
        if (next == pins.size())
            return S_FALSE;
        out[0] = pins[next++];
        out[0]->AddRef();
        return S_OK;
    }
    std::vector<FakePin*> pins;
    size_t next = 0;
};

// A filter with pins given as "o" (output) and "i" (input) letters, named name.0, name.1, ...
struct FakeFilter : Fake<IBaseFilter> {
    FakeFilter(const std::string& name, const std::string& layout) : Fake(name) {
        expose(IID_IBaseFilter, static_cast<IBaseFilter*>(this));
        for (char c : layout)
            pins.push_back(std::make_unique<FakePin>(name + "." + std::to_string(pins.size()),
                                                     c == 'o' ? PINDIR_OUTPUT : PINDIR_INPUT));
    }
    HRESULT EnumPins(IEnumPins** out) override {
        calls.push_back(name + ".EnumPins");
        std::vector<FakePin*> list;
        for (auto& pin : pins)
            list.push_back(pin.get());
        lists.push_back(std::make_unique<FakePinList>(list));
        *out = lists.back().get();
        return S_OK;
    }
    std::vector<std::unique_ptr<FakePin>> pins;
    std::vector<std::unique_ptr<FakePinList>> lists;
};

struct FakeControl : Fake<IMediaControl> {
    FakeControl() : Fake("control") {}
    HRESULT Run() override {
        calls.push_back("control.Run");
        return S_FALSE;
    }
};

struct FakeGraph : Fake<IGraphBuilder> {
    FakeGraph() : Fake("graph") {
        expose(IID_IGraphBuilder, static_cast<IGraphBuilder*>(this));
        expose(IID_IMediaControl, &control);
    }
    HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name16) override {
        std::string text;
        for (const WCHAR* p = name16; p && *p; ++p)
            text += static_cast<char>(*p);
        auto* fake = static_cast<FakeFilter*>(filter);
        calls.push_back("graph.AddFilter(" + (fake ? fake->name : "null") + ", " + text + ")");
        return S_OK;
    }
    HRESULT Connect(IPin* output, IPin* input) override {
        auto name = [](IPin* pin) { return pin ? static_cast<FakePin*>(pin)->name : "null"; };
        calls.push_back("graph.Connect(" + name(output) + ", " + name(input) + ")");
        return connectResult;
    }
    FakeControl control;
    HRESULT connectResult = static_cast<HRESULT>(0x80040217); // a failure of the graph's own
};

struct FakeGrabber : Fake<ISampleGrabber> {
    FakeGrabber() : Fake("grabber") {}
    HRESULT SetOneShot(BOOL oneShot) override {
        calls.push_back("grabber.SetOneShot(" + std::to_string(oneShot) + ")");
        return S_OK;
    }
    HRESULT SetMediaType(const AM_MEDIA_TYPE* type) override {
        calls.push_back("grabber.SetMediaType");
        mediaType = *type;
        return S_OK;
    }
    HRESULT SetBufferSamples(BOOL buffer) override {
        calls.push_back("grabber.SetBufferSamples(" + std::to_string(buffer) + ")");
        return S_OK;
    }
    HRESULT GetCurrentBuffer(LONG* size, BYTE*) override {
        capacities.push_back(*size);
        *size = 100; // a short copy
        return S_FALSE;
    }
    AM_MEDIA_TYPE mediaType{};
    std::vector<LONG> capacities;
};

struct FakeStreamConfig : Fake<IAMStreamConfig> {
    FakeStreamConfig() : Fake("streamConfig") {}
    HRESULT GetFormat(AM_MEDIA_TYPE** out) override {
        calls.push_back("streamConfig.GetFormat");
        auto* type = static_cast<AM_MEDIA_TYPE*>(std::calloc(1, sizeof(AM_MEDIA_TYPE)));
        *type = format;
        if (formatBlock) {
            type->pbFormat = static_cast<BYTE*>(std::malloc(sizeof(VIDEOINFOHEADER)));
            std::memcpy(type->pbFormat, &video, sizeof video);
        }
        *out = type;
        return S_OK;
    }
    HRESULT SetFormat(AM_MEDIA_TYPE* type) override {
        calls.push_back("streamConfig.SetFormat");
        setType = *type;
        std::memcpy(&setVideo, type->pbFormat, sizeof setVideo);
        return S_OK;
    }
    AM_MEDIA_TYPE format{};  // what GetFormat reports
    VIDEOINFOHEADER video{}; // its format block
    bool formatBlock = true; // false: pbFormat stays null
    AM_MEDIA_TYPE setType{}; // what SetFormat got
    VIDEOINFOHEADER setVideo{};
};

struct FakeBuilder : Fake<ICaptureGraphBuilder2> {
    explicit FakeBuilder(IAMStreamConfig* config) : Fake("builder"), config(config) {}
    HRESULT SetFiltergraph(IGraphBuilder* graph) override {
        calls.push_back(std::string("builder.SetFiltergraph(") + (graph ? "graph" : "null") + ")");
        return S_OK;
    }
    HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                          void** object) override {
        const bool asked = !category && !type && filter && iid == IID_IAMStreamConfig;
        calls.push_back(std::string("builder.FindInterface") + (asked ? "" : "(unexpected)"));
        config->AddRef();
        *object = config;
        return S_OK;
    }
    HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                         IBaseFilter* compressor, IBaseFilter* renderer) override {
        const bool asked = category && *category == PIN_CATEGORY_PREVIEW && type &&
                           *type == MEDIATYPE_Video && source && !compressor && !renderer;
        calls.push_back(std::string("builder.RenderStream") + (asked ? "" : "(unexpected)"));
        return E_FAIL;
    }
    IAMStreamConfig* config;
};

struct FakeMoniker : Fake<IMoniker> {
    explicit FakeMoniker(IBaseFilter* device) : Fake("moniker"), device(device) {
        logReleases = true;
    }
    HRESULT BindToObject(IBindCtx* context, IMoniker* left, REFIID iid, void** object) override {
        const bool asked = !context && !left && iid == IID_IBaseFilter;
        calls.push_back(std::string("moniker.BindToObject") + (asked ? "" : "(unexpected)"));
        device->AddRef();
        *object = device;
        return S_OK;
    }
    IBaseFilter* device;
};

struct FakeMonikerList : Fake<IEnumMoniker> {
    explicit FakeMonikerList(IMoniker* moniker) : Fake("monikers"), moniker(moniker) {
        logReleases = true;
    }
    HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) override {
        calls.push_back("monikers.Next(" + std::to_string(count) + ")");
        if (!moniker) {
            *fetched = 0;
            return S_FALSE;
        }
        moniker->AddRef();
        *out = moniker;
        *fetched = 1;
        return S_OK;
    }
    IMoniker* moniker; // null: no device at all
};

struct FakeDeviceEnum : Fake<ICreateDevEnum> {
    explicit FakeDeviceEnum(IEnumMoniker* list) : Fake("deviceEnum"), list(list) {
        logReleases = true;
    }
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) override {
        const bool asked = category == CLSID_VideoInputDeviceCategory && flags == 0;
        calls.push_back(std::string("deviceEnum.CreateClassEnumerator") +
                        (asked ? "" : "(unexpected)"));
        list->AddRef();
        *out = list;
        return S_OK;
    }
    IEnumMoniker* list;
};

// Hands out one prepared object for one class.
template <typename Product> struct FakeFactory : Fake<IClassFactory> {
    FakeFactory(std::string className, Product* product)
        : Fake(std::move(className)), product(product) {}
    HRESULT CreateInstance(IUnknown*, REFIID iid, void** object) override {
        calls.push_back("create " + name);
        return product->find(iid, object);
    }
    Product* product;
};

// A whole capture service of fakes, registered for the life of the object. The capture source
// has the pins of sourceLayout.
struct FakeService {
    explicit FakeService(const std::string& sourceLayout = "o", bool withDevice = true,
                         DWORD graphContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                         DWORD filterContexts = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
        : source("source", sourceLayout), moniker(&source),
          monikers(withDevice ? &moniker : nullptr), deviceEnum(&monikers), builder(&streamConfig),
          grabberFilter("grabberFilter", "io"), nullRenderer("nullRenderer", "i") {
        grabberFilter.expose(IID_ISampleGrabber, &grabber);
        deviceEnum.expose(IID_ICreateDevEnum, static_cast<ICreateDevEnum*>(&deviceEnum));
        builder.expose(IID_ICaptureGraphBuilder2, static_cast<ICaptureGraphBuilder2*>(&builder));
        streamConfig.format.majortype = MEDIATYPE_Video;
        streamConfig.format.subtype = {
            0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}}; // YUY2
        streamConfig.format.lSampleSize = 640 * 480 * 2;
        streamConfig.format.formattype = FORMAT_VideoInfo;
        streamConfig.format.cbFormat = sizeof(VIDEOINFOHEADER);
        streamConfig.video.AvgTimePerFrame = 666666;
        streamConfig.video.bmiHeader = {40, 640, 480, 1, 16, 0x32595559, 640 * 480 * 2, 0, 0, 0, 0};
        CoInitialize(nullptr);
        add(CLSID_FilterGraph, "FilterGraph", &graph, graphContexts);
        add(CLSID_SystemDeviceEnum, "SystemDeviceEnum", &deviceEnum, graphContexts);
        add(CLSID_CaptureGraphBuilder2, "CaptureGraphBuilder2", &builder, graphContexts);
        add(CLSID_SampleGrabber, "SampleGrabber", &grabberFilter, filterContexts);
        add(CLSID_NullRenderer, "NullRenderer", &nullRenderer, filterContexts);
        calls.clear();
    }
    ~FakeService() {
        for (DWORD cookie : cookies)
            CoRevokeClassObject(cookie);
    }
    template <typename Product>
    void add(REFCLSID clsid, const char* name, Product* product, DWORD contexts) {
        factories.push_back(std::make_unique<FakeFactory<Product>>(name, product));
        DWORD cookie = 0;
        CoRegisterClassObject(clsid, factories.back().get(), contexts, &cookie);
        cookies.push_back(cookie);
    }

    FakeFilter source;
    FakeMoniker moniker;
    FakeMonikerList monikers;
    FakeDeviceEnum deviceEnum;
    FakeStreamConfig streamConfig;
    FakeBuilder builder;
    FakeGraph graph;
    FakeGrabber grabber;
    FakeFilter grabberFilter;
    FakeFilter nullRenderer;
    std::vector<std::unique_ptr<Fake<IClassFactory>>> factories;
    std::vector<DWORD> cookies;
};

// The grid lives for the process, as in the program; its storage stays reachable.
CameraGrid* newGrid() {
    static auto* grids = new std::vector<CameraGrid*>;
    grids->push_back(new CameraGrid(160, 120, 40, 30));
    return grids->back();
}

TEST(CaptureGraph, BuildMakesItsCallsInOrder) {
    FakeService service;
    CameraGrid* grid = newGrid();
    const std::vector<std::string> expected = {
        "create FilterGraph",
        "create SystemDeviceEnum",
        "deviceEnum.CreateClassEnumerator",
        "monikers.Next(1)",
        "moniker.BindToObject",
        "moniker.Release",
        "monikers.Release",
        "deviceEnum.Release",
        "graph.AddFilter(source, Video Capture)",
        "create CaptureGraphBuilder2",
        "builder.SetFiltergraph(graph)",
        "create SampleGrabber",
        "grabberFilter.QueryInterface",
        "grabber.SetMediaType",
        "graph.AddFilter(grabberFilter, Grabber)",
        "source.EnumPins",
        "grabberFilter.EnumPins",
        "builder.FindInterface",
        "streamConfig.GetFormat",
        "streamConfig.SetFormat",
        "graph.Connect(source.0, grabberFilter.0)",
        "grabber.SetBufferSamples(1)",
        "grabber.SetOneShot(0)",
        "create NullRenderer",
        "graph.AddFilter(nullRenderer, NullRenderer)",
        "grabberFilter.EnumPins",
        "nullRenderer.EnumPins",
        "graph.Connect(grabberFilter.1, nullRenderer.0)",
        "builder.RenderStream",
        "graph.QueryInterface",
        "control.Run",
    };
    EXPECT_EQ(calls, expected);

    EXPECT_EQ(grid->lastResult, service.graph.connectResult)
        << "after the build lastResult holds the result of joining grabber and null renderer";
    EXPECT_EQ(grid->graph, &service.graph);
    EXPECT_EQ(grid->captureSource, &service.source);
    EXPECT_EQ(grid->grabberFilter, &service.grabberFilter);
    EXPECT_EQ(grid->grabber, &service.grabber);
    EXPECT_EQ(grid->nullRenderer, &service.nullRenderer);
    EXPECT_EQ(grid->streamConfig, &service.streamConfig);
    EXPECT_EQ(service.moniker.refs, 1u) << "the device moniker is released once bound";
    EXPECT_EQ(service.monikers.refs, 1u) << "the moniker enumerator is released";
    EXPECT_EQ(service.deviceEnum.refs, 1u) << "the device enumerator is released";
    for (FakeFilter* filter : {&service.source, &service.grabberFilter, &service.nullRenderer})
        for (auto& list : filter->lists)
            EXPECT_EQ(list->refs, 0u)
                << "every pin enumerator of " << filter->name << " is released";
    EXPECT_EQ(service.source.pins[0]->refs, 2u) << "the source pin stays referenced";
    EXPECT_EQ(service.grabberFilter.pins[0]->refs, 2u) << "the grabber pin stays referenced";
    EXPECT_EQ(service.grabberFilter.pins[1]->refs, 1u) << "connectFilters releases its pins";
    EXPECT_EQ(service.nullRenderer.pins[0]->refs, 1u) << "connectFilters releases its pins";

    EXPECT_EQ(grid->buildCaptureGraph(160, 120), S_FALSE) << "the build returns Run's result";
}

TEST(CaptureGraph, GrabberAsksForVideoInRgb24AndNothingMore) {
    FakeService service;
    newGrid();
    const AM_MEDIA_TYPE& type = service.grabber.mediaType;
    EXPECT_TRUE(type.majortype == MEDIATYPE_Video);
    EXPECT_TRUE(type.subtype == MEDIASUBTYPE_RGB24);
    EXPECT_TRUE(type.formattype == GUID{}) << "no format type";
    EXPECT_EQ(type.pbFormat, nullptr);
    EXPECT_EQ(type.cbFormat, 0u);
    EXPECT_EQ(type.lSampleSize, 0u);
    EXPECT_EQ(type.bFixedSizeSamples, FALSE);
    EXPECT_EQ(type.bTemporalCompression, FALSE);
}

TEST(CaptureGraph, FiltersAreMadeInTheirClassContexts) {
    // Registered for one context each, a class is made only when that context is asked for:
    // the graph, device enumerator and builder with both in-process contexts (3), the grabber
    // and null renderer with the in-process server alone (1).
    struct Case {
        DWORD graphContexts, filterContexts;
        bool graphMade, filtersMade;
    };
    const Case cases[] = {
        {CLSCTX_INPROC_SERVER, CLSCTX_INPROC_SERVER, true, true},
        {CLSCTX_INPROC_HANDLER, CLSCTX_INPROC_HANDLER, true, false},
    };
    for (const Case& c : cases) {
        FakeService service("o", true, c.graphContexts, c.filterContexts);
        CameraGrid* grid = newGrid();
        EXPECT_EQ(grid->graph != nullptr, c.graphMade) << "contexts " << c.graphContexts;
        EXPECT_EQ(grid->grabberFilter != nullptr, c.filtersMade) << "contexts " << c.filterContexts;
        EXPECT_EQ(grid->nullRenderer != nullptr, c.filtersMade) << "contexts " << c.filterContexts;
    }
}

TEST(CaptureGraph, FirstOutputPinInEnumerationOrderFeedsTheGrabber) {
    struct Case {
        const char* layout;
        const char* connected;
    };
    const Case cases[] = {
        {"o", "source.0"},    {"io", "source.1"}, {"oo", "source.0"},
        {"iioo", "source.2"}, {"i", "null"},      {"", "null"},
    };
    for (const Case& c : cases) {
        FakeService service(c.layout);
        newGrid();
        const std::string wanted =
            std::string("graph.Connect(") + c.connected + ", grabberFilter.0)";
        int found = 0;
        for (const std::string& call : calls)
            found += call == wanted;
        EXPECT_EQ(found, 1) << "pins " << c.layout << ": " << wanted;
        for (auto& pin : service.source.pins)
            EXPECT_EQ(pin->refs, pin->name == c.connected ? 2u : 1u)
                << "pins " << c.layout << ": only the pin found keeps a reference, " << pin->name;
    }
}

TEST(CaptureGraph, FormatChangesOnlyForVideoInfo) {
    struct Case {
        const char* what;
        GUID formatType;
        bool block;
        bool setFormatCalled;
    };
    const Case cases[] = {
        {"video info", FORMAT_VideoInfo, true, true},
        {"video info without its block", FORMAT_VideoInfo, false, false},
        {"another format",
         {0xf72a76A0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0, 0, 0xc0, 0xcc, 0x16, 0xba}},
         true,
         false},
        {"no format", GUID{}, false, false},
    };
    for (const Case& c : cases) {
        FakeService service;
        service.streamConfig.format.formattype = c.formatType;
        service.streamConfig.formatBlock = c.block;
        newGrid();
        int set = 0;
        for (const std::string& call : calls)
            set += call == "streamConfig.SetFormat";
        EXPECT_EQ(set, c.setFormatCalled ? 1 : 0) << c.what;
        if (!c.setFormatCalled)
            continue;
        const BITMAPINFOHEADER& header = service.streamConfig.setVideo.bmiHeader;
        EXPECT_EQ(header.biWidth, 160);
        EXPECT_EQ(header.biHeight, 120) << "positive: bottom row first";
        EXPECT_EQ(header.biSizeImage, 57600u);
        EXPECT_EQ(header.biCompression, BI_RGB);
        EXPECT_EQ(header.biBitCount, 16) << "the bit count stays as the device said";
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(service.streamConfig.setVideo.AvgTimePerFrame, 666666) << "frame interval kept";
        const AM_MEDIA_TYPE& type = service.streamConfig.setType;
        EXPECT_TRUE(type.subtype == service.streamConfig.format.subtype) << "subtype kept";
        EXPECT_EQ(type.lSampleSize, 640u * 480 * 2) << "sample size kept";
    }
}

TEST(CaptureGraph, WithoutADeviceTheBuildGoesOnWithoutASource) {
    FakeService service("o", false);
    CameraGrid* grid = newGrid();
    EXPECT_EQ(grid->captureSource, nullptr);
    for (const std::string& call : calls)
        EXPECT_NE(call, "moniker.BindToObject") << "nothing to bind";
    EXPECT_EQ(calls.back(), "control.Run") << "the graph still runs";
    grid->grabFrame(); // the frame copy still goes through the grabber
    EXPECT_EQ(grid->lastResult, S_FALSE);
}

TEST(CaptureGraph, ConnectFiltersNeedsBothPinsAndReleasesThem) {
    struct Case {
        const char* upstream;
        const char* downstream;
        HRESULT result;
        const char* connect; // the Connect call expected, or "" for none
    };
    const HRESULT graphResult = static_cast<HRESULT>(0x80040217);
    const Case cases[] = {
        {"o", "i", graphResult, "graph.Connect(up.0, down.0)"},
        {"iio", "oi", graphResult, "graph.Connect(up.2, down.1)"},
        {"", "i", E_FAIL, ""},
        {"i", "i", E_FAIL, ""},
        {"o", "", E_FAIL, ""},
        {"o", "o", E_FAIL, ""},
    };
    FakeService service;
    CameraGrid* grid = newGrid();
    for (const Case& c : cases) {
        FakeFilter up("up", c.upstream);
        FakeFilter down("down", c.downstream);
        calls.clear();
        EXPECT_EQ(grid->connectFilters(&service.graph, &up, &down), c.result)
            << c.upstream << " -> " << c.downstream;
        std::vector<std::string> connects;
        for (const std::string& call : calls)
            if (call.rfind("graph.Connect", 0) == 0)
                connects.push_back(call);
        EXPECT_EQ(connects,
                  *c.connect ? std::vector<std::string>{c.connect} : std::vector<std::string>{})
            << c.upstream << " -> " << c.downstream;
        for (FakeFilter* filter : {&up, &down}) {
            for (auto& pin : filter->pins)
                EXPECT_EQ(pin->refs, 1u) << "every pin is released again: " << pin->name;
            for (auto& list : filter->lists)
                EXPECT_EQ(list->refs, 0u) << "every pin enumerator is released";
        }
    }
}

TEST(CaptureGraph, PinSearchLeavesTheOutParameterAloneWhenNothingIsFound) {
    FakeService service;
    CameraGrid* grid = newGrid();
    FakeFilter inputsOnly("filter", "ii");
    IPin* untouched = reinterpret_cast<IPin*>(&inputsOnly);
    IPin* pin = untouched;
    EXPECT_EQ(grid->getPin(&inputsOnly, PINDIR_OUTPUT, &pin), E_FAIL);
    EXPECT_EQ(pin, untouched) << "getPin leaves the out-parameter alone on failure";
    EXPECT_EQ(grid->findPin(&inputsOnly, PINDIR_OUTPUT), nullptr);
    EXPECT_EQ(grid->getPin(&inputsOnly, PINDIR_INPUT, &pin), S_OK);
    EXPECT_EQ(pin, inputsOnly.pins[0].get()) << "the first input pin";
    EXPECT_EQ(inputsOnly.pins[0]->refs, 2u) << "handed over with a reference for the caller";
    EXPECT_EQ(inputsOnly.pins[1]->refs, 1u) << "pins passed over keep no reference";
    EXPECT_EQ(grid->findPin(nullptr, PINDIR_INPUT), nullptr) << "no filter, no pin";
}

TEST(CaptureGraph, FrameCopyOffersTheWholeCapacityEveryTime) {
    FakeService service;
    CameraGrid* grid = newGrid();
    grid->copyFrame();
    EXPECT_EQ(grid->frameBytes, 100) << "set to what the copy reported";
    EXPECT_EQ(grid->lastResult, S_FALSE) << "the copy's result is recorded";
    grid->grabFrame();
    EXPECT_EQ(service.grabber.capacities, (std::vector<LONG>{57600, 57600}))
        << "a short copy must not shrink the capacity handed to the next";
}

} // namespace

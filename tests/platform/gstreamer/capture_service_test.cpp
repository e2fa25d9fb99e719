// The capture service on GStreamer, through its Windows-shaped interfaces: start-up and object
// creation, the device list, formats, connections and the frame copy.
#include "platform/capture_service.h"
#include "platform/gstreamer/capture_sources_gstreamer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

template <typename T> T* make(REFCLSID clsid, REFIID iid) {
    T* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    return object;
}

// The video input devices, with VELMORA_VIDEO_SOURCE set to chosen (null: unset).
std::vector<IMoniker*> devices(const char* chosen) {
    if (chosen)
        setenv("VELMORA_VIDEO_SOURCE", chosen, 1);
    else
        unsetenv("VELMORA_VIDEO_SOURCE");
    auto* enumerator = make<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    IEnumMoniker* list = nullptr;
    enumerator->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &list, 0);
    unsetenv("VELMORA_VIDEO_SOURCE");
    std::vector<IMoniker*> monikers;
    IMoniker* moniker = nullptr;
    while (list && list->Next(1, &moniker, nullptr) == S_OK)
        monikers.push_back(moniker);
    if (list)
        list->Release();
    enumerator->Release();
    return monikers;
}

void releaseAll(std::vector<IMoniker*>& monikers) {
    for (IMoniker* moniker : monikers)
        moniker->Release();
}

IBaseFilter* bind(IMoniker* moniker) {
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
        S_OK);
    return filter;
}

IBaseFilter* sourceFrom(const char* description) {
    std::vector<IMoniker*> monikers = devices(description);
    IBaseFilter* source = bind(monikers.front());
    releaseAll(monikers);
    return source;
}

IPin* pinOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    IPin* pin = nullptr;
    PIN_DIRECTION direction = PINDIR_INPUT;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        if (pin->QueryDirection(&direction) == S_OK && direction == wanted)
            break;
        pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return pin;
}

// Source, grabber and null renderer in one graph, as the camera builds it; released at the end.
struct Chain {
    explicit Chain(IBaseFilter* source) : source(source) {
        graph = make<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
        grabberFilter = make<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
        renderer = make<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
        grabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber));
        graph->AddFilter(source, u"Video Capture");
        graph->AddFilter(grabberFilter, u"Grabber");
        graph->AddFilter(renderer, u"NullRenderer");
        grabber->SetBufferSamples(TRUE);
    }
    ~Chain() {
        for (IUnknown* object : std::vector<IUnknown*>{grabber, grabberFilter, renderer, source})
            object->Release();
        graph->Release();
    }
    HRESULT connect() {
        IPin* pins[4] = {pinOf(source, PINDIR_OUTPUT), pinOf(grabberFilter, PINDIR_INPUT),
                         pinOf(grabberFilter, PINDIR_OUTPUT), pinOf(renderer, PINDIR_INPUT)};
        HRESULT result = graph->Connect(pins[0], pins[1]);
        if (result == S_OK)
            result = graph->Connect(pins[2], pins[3]);
        for (IPin* pin : pins)
            pin->Release();
        return result;
    }
    // Runs the graph and copies the first frame there is into frame; false after ten seconds.
    bool firstFrame(std::vector<BYTE>& frame) {
        IMediaControl* control = nullptr;
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        control->Run();
        control->Release();
        for (int tries = 0; tries < 1000; ++tries) {
            LONG size = static_cast<LONG>(frame.size());
            if (grabber->GetCurrentBuffer(&size, frame.data()) == S_OK) {
                frame.resize(static_cast<size_t>(size));
                return true;
            }
            usleep(10000);
        }
        return false;
    }

    IBaseFilter* source;
    IGraphBuilder* graph = nullptr;
    IBaseFilter* grabberFilter = nullptr;
    ISampleGrabber* grabber = nullptr;
    IBaseFilter* renderer = nullptr;
};

AM_MEDIA_TYPE* currentFormat(IBaseFilter* source) {
    IAMStreamConfig* config = nullptr;
    source->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(config->GetFormat(&type), S_OK);
    config->Release();
    return type;
}

HRESULT setSize(IBaseFilter* source, LONG width, LONG height) {
    IAMStreamConfig* config = nullptr;
    source->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    AM_MEDIA_TYPE* type = currentFormat(source);
    auto* video = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    video->bmiHeader.biWidth = width;
    video->bmiHeader.biHeight = height;
    const HRESULT result = config->SetFormat(type);
    std::free(type->pbFormat);
    std::free(type);
    config->Release();
    return result;
}

// Must run first: nothing is made before the service starts.
TEST(CaptureService, StartsOnceAndMakesItsClasses) {
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               &object),
              CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE) << "already started";

    struct Case {
        const char* what;
        const CLSID& clsid;
        const IID& iid;
        DWORD context;
        HRESULT result;
    };
    const GUID unknownClass = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const Case cases[] = {
        {"graph", CLSID_FilterGraph, IID_IGraphBuilder, 3, S_OK},
        {"graph's media control", CLSID_FilterGraph, IID_IMediaControl, 3, S_OK},
        {"device enumerator", CLSID_SystemDeviceEnum, IID_ICreateDevEnum, 3, S_OK},
        {"graph builder", CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, 3, S_OK},
        {"grabber", CLSID_SampleGrabber, IID_IBaseFilter, 1, S_OK},
        {"grabber interface", CLSID_SampleGrabber, IID_ISampleGrabber, 1, S_OK},
        {"null renderer", CLSID_NullRenderer, IID_IBaseFilter, 1, S_OK},
        {"null renderer as grabber", CLSID_NullRenderer, IID_ISampleGrabber, 1, E_NOINTERFACE},
        {"unknown class", unknownClass, IID_IUnknown, 1, REGDB_E_CLASSNOTREG},
        {"no in-process context", CLSID_FilterGraph, IID_IGraphBuilder, 0, REGDB_E_CLASSNOTREG},
    };
    for (const Case& c : cases) {
        object = nullptr;
        EXPECT_EQ(CoCreateInstance(c.clsid, nullptr, c.context, c.iid, &object), c.result)
            << c.what;
        EXPECT_EQ(object != nullptr, c.result == S_OK) << c.what;
        if (object)
            static_cast<IUnknown*>(object)->Release();
    }
}

TEST(CaptureService, ChosenSourceComesFirstAndColourBarsLast) {
    CoInitialize(nullptr);
    std::vector<IMoniker*> plain = devices(nullptr);
    std::vector<IMoniker*> chosen = devices("videotestsrc pattern=green");
    ASSERT_FALSE(plain.empty()) << "the colour bars are always there";
    EXPECT_EQ(chosen.size(), plain.size() + 1) << "the chosen source joins the list";

    std::vector<BYTE> frame(160 * 120 * 3);
    {
        Chain first(bind(chosen.front()));
        ASSERT_EQ(first.connect(), S_OK);
        ASSERT_TRUE(first.firstFrame(frame));
        EXPECT_EQ(frame[0], 0);
        EXPECT_EQ(frame[1], 255) << "the first device is the chosen green source";
        EXPECT_EQ(frame[2], 0);
    }
    frame.assign(160 * 120 * 3, 0);
    {
        Chain last(bind(chosen.back()));
        ASSERT_EQ(last.connect(), S_OK);
        ASSERT_TRUE(last.firstFrame(frame));
        // The top row of the bars is the last row of the frame: white at the left, blue at
        // the right.
        const BYTE* top = frame.data() + 119 * 160 * 3;
        EXPECT_TRUE(top[0] > 150 && top[1] > 150 && top[2] > 150) << "white bar at the left";
        const BYTE* right = top + 159 * 3;
        EXPECT_TRUE(right[0] > 150 && right[1] < 40 && right[2] < 40) << "blue bar at the right";
    }
    releaseAll(plain);
    releaseAll(chosen);
}

TEST(CaptureService, ABadDescriptionSaysSoOnceAndIsLeftOut) {
    CoInitialize(nullptr);
    std::vector<IMoniker*> plain = devices(nullptr);
    const size_t count = plain.size();
    releaseAll(plain);
    struct Case {
        const char* description;
        const char* message;
    };
    const Case cases[] = {
        {"nosuchelement", "no element \"nosuchelement\""},
        {"videotestsrc patern=red", "no property \"patern\" in element \"videotestsrc\""},
        {"videotestsrc !", "syntax error"},
        {"videoconvert", "not a source: none of its elements makes video of its own"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        std::vector<IMoniker*> listed = devices(c.description);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("VELMORA_VIDEO_SOURCE: ") + c.message + "\n")
            << c.description;
        EXPECT_EQ(listed.size(), count) << c.description << ": the list goes on without it";
        releaseAll(listed);
    }
}

TEST(CaptureService, FrameCopyIsBottomRowFirstWithoutGapsWhateverTheStride) {
    CoInitialize(nullptr);
    // 161 pixels of 3 bytes: GStreamer pads each row to 484 bytes; the copy must not. The image
    // is red in its top 61 rows and blue in the 60 below, made in an RGB format so that the
    // colours come through exactly (a round trip through YUV may not).
    Chain chain(sourceFrom("videotestsrc pattern=red ! video/x-raw,format=BGRx,width=161,"
                           "height=61 ! videobox bottom=-60 fill=blue ! video/x-raw,format=BGRx"));
    ASSERT_EQ(setSize(chain.source, 161, 121), S_OK);
    ASSERT_EQ(chain.connect(), S_OK);
    std::vector<BYTE> frame(161 * 121 * 3);
    ASSERT_TRUE(chain.firstFrame(frame));
    ASSERT_EQ(frame.size(), 161u * 121 * 3) << "the byte count is what was copied";
    for (int row = 0; row < 121; ++row)
        for (int col = 0; col < 161; ++col) {
            const BYTE* pixel = frame.data() + (row * 161 + col) * 3;
            const bool red = row >= 60; // stored bottom row first
            const BYTE want[3] = {BYTE(red ? 0 : 255), 0, BYTE(red ? 255 : 0)};
            ASSERT_TRUE(pixel[0] == want[0] && pixel[1] == want[1] && pixel[2] == want[2])
                << "stored row " << row << " column " << col << " should be "
                << (red ? "red" : "blue");
        }
}

TEST(CaptureService, FrameCopyNeverWritesPastItsCapacity) {
    CoInitialize(nullptr);
    Chain chain(sourceFrom("videotestsrc pattern=white"));
    ASSERT_EQ(chain.connect(), S_OK);
    std::vector<BYTE> frame(57600);
    ASSERT_TRUE(chain.firstFrame(frame));

    std::vector<BYTE> small(57599 + 16, 7);
    LONG size = 57599;
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, small.data()), E_OUTOFMEMORY)
        << "a frame that does not fit fails";
    EXPECT_EQ(size, 57599) << "the byte count stays";
    for (BYTE byte : small)
        ASSERT_EQ(byte, 7) << "nothing is written";
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(nullptr, small.data()), E_POINTER);
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, nullptr), E_POINTER);

    chain.grabber->SetBufferSamples(FALSE);
    size = 57600;
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, frame.data()), VFW_E_WRONG_STATE)
        << "a grabber told not to keep samples has none to give";
}

TEST(CaptureService, GrabberWithoutFramesHasNoneToGive) {
    CoInitialize(nullptr);
    Chain chain(sourceFrom("videotestsrc"));
    std::vector<BYTE> frame(57600);
    LONG size = 57600;
    EXPECT_EQ(chain.grabber->GetCurrentBuffer(&size, frame.data()), VFW_E_WRONG_STATE);
    EXPECT_EQ(size, 57600);
}

// The frame age, in milliseconds, that the grabber reports for its latest copy.
double copiedAgeMs(ISampleGrabber* grabber) {
    IFrameArrival* arrival = nullptr;
    EXPECT_EQ(grabber->QueryInterface(IID_IFrameArrival, reinterpret_cast<void**>(&arrival)), S_OK);
    REFERENCE_TIME age = -1;
    EXPECT_EQ(arrival->GetCopiedFrameAge(&age), S_OK);
    arrival->Release();
    return age / 10000.0;
}

// The number the grabber gives the frame of its latest copy.
LONGLONG copiedNumber(ISampleGrabber* grabber) {
    IFrameArrival* arrival = nullptr;
    EXPECT_EQ(grabber->QueryInterface(IID_IFrameArrival, reinterpret_cast<void**>(&arrival)), S_OK);
    LONGLONG number = -1;
    EXPECT_EQ(arrival->GetCopiedFrameNumber(&number), S_OK);
    arrival->Release();
    return number;
}

TEST(CaptureService, CopiedFramesAreTheNewestAndTheirAgeIsKnown) {
    CoInitialize(nullptr);
    {
        Chain chain(sourceFrom("videotestsrc num-buffers=1"));
        IFrameArrival* arrival = nullptr;
        ASSERT_EQ(
            chain.grabber->QueryInterface(IID_IFrameArrival, reinterpret_cast<void**>(&arrival)),
            S_OK);
        REFERENCE_TIME age = 0;
        EXPECT_EQ(arrival->GetCopiedFrameAge(&age), VFW_E_WRONG_STATE) << "nothing copied yet";
        EXPECT_EQ(arrival->GetCopiedFrameAge(nullptr), E_POINTER);
        LONGLONG number = 0;
        EXPECT_EQ(arrival->GetCopiedFrameNumber(&number), VFW_E_WRONG_STATE);
        arrival->Release();

        // A source that has ended leaves its one frame, which only grows older.
        ASSERT_EQ(chain.connect(), S_OK);
        std::vector<BYTE> frame(57600);
        ASSERT_TRUE(chain.firstFrame(frame));
        usleep(300000);
        LONG size = 57600;
        ASSERT_EQ(chain.grabber->GetCurrentBuffer(&size, frame.data()), S_OK);
        EXPECT_GE(copiedAgeMs(chain.grabber), 300.0);
        EXPECT_EQ(copiedNumber(chain.grabber), 1) << "the one frame, copied twice";
    }

    // A live source of 5 frames a second: a copy gets the frame that came last, within the last
    // 200 ms, never one a newer frame replaced. A busy machine may hold a frame back now and
    // then, so the typical copy is held to that and every copy only to a bound that a grabber
    // handing over old frames would soon pass; one a frame behind would be 200 to 400 ms.
    Chain chain(sourceFrom("videotestsrc is-live=true ! video/x-raw,framerate=5/1"));
    ASSERT_EQ(chain.connect(), S_OK);
    std::vector<BYTE> frame(57600);
    ASSERT_TRUE(chain.firstFrame(frame));
    std::vector<double> ages;
    LONGLONG number = copiedNumber(chain.grabber), newFrames = 0;
    for (int copy = 0; copy < 15; ++copy) {
        usleep(97000);
        LONG size = 57600;
        ASSERT_EQ(chain.grabber->GetCurrentBuffer(&size, frame.data()), S_OK);
        ages.push_back(copiedAgeMs(chain.grabber));
        EXPECT_LT(ages.back(), 1000.0) << "copy " << copy;
        // Copied about twice a frame: a new frame gets the next number, a frame again its own.
        const LONGLONG next = copiedNumber(chain.grabber);
        EXPECT_TRUE(next == number || next == number + 1) << "copy " << copy << ": " << next;
        newFrames += next - number;
        number = next;
    }
    EXPECT_GE(newFrames, 5) << "about 7 new frames in 1.5 s";
    EXPECT_LE(newFrames, 9);
    std::sort(ages.begin(), ages.end());
    EXPECT_LT(ages[ages.size() / 2], 200.0 + 30.0) << "the median copy's frame age, ms";
}

TEST(CaptureService, SourceFormatIsAskedBeforeItIsConnected) {
    CoInitialize(nullptr);
    Chain chain(sourceFrom("videotestsrc"));
    AM_MEDIA_TYPE* type = currentFormat(chain.source);
    ASSERT_TRUE(type->formattype == FORMAT_VideoInfo);
    ASSERT_GE(type->cbFormat, sizeof(VIDEOINFOHEADER));
    const auto* video = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    EXPECT_EQ(video->bmiHeader.biWidth, 160) << "the capture size unless asked for another";
    EXPECT_EQ(video->bmiHeader.biHeight, 120);
    EXPECT_EQ(video->bmiHeader.biBitCount, 24);
    std::free(type->pbFormat);
    std::free(type);

    struct Case {
        LONG width, height;
        HRESULT result;
    };
    const Case cases[] = {{320, 240, S_OK},
                          {0, 120, E_INVALIDARG},
                          {160, 0, E_INVALIDARG},
                          {-160, 120, E_INVALIDARG},
                          {100000, 120, E_INVALIDARG}};
    for (const Case& c : cases)
        EXPECT_EQ(setSize(chain.source, c.width, c.height), c.result)
            << c.width << " x " << c.height;
    type = currentFormat(chain.source);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth, 320)
        << "the size last set, refused ones left out";
    type->formattype = GUID{};
    IAMStreamConfig* config = nullptr;
    chain.source->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
    EXPECT_EQ(config->SetFormat(type), E_INVALIDARG) << "only video info formats";
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    EXPECT_EQ(config->SetFormat(type), E_INVALIDARG) << "a format block too short";
    std::free(type->pbFormat);
    std::free(type);

    ASSERT_EQ(chain.connect(), S_OK);
    EXPECT_EQ(setSize(chain.source, 160, 120), VFW_E_ALREADY_CONNECTED) << "too late";
    config->Release();
}

TEST(CaptureService, ConnectJoinsOnlyFreePinsOfTheGraphInTheirDirection) {
    CoInitialize(nullptr);
    Chain chain(sourceFrom("videotestsrc"));
    IBaseFilter* outsider = make<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    IPin* sourceOut = pinOf(chain.source, PINDIR_OUTPUT);
    IPin* grabberIn = pinOf(chain.grabberFilter, PINDIR_INPUT);
    IPin* outsiderIn = pinOf(outsider, PINDIR_INPUT);
    EXPECT_EQ(chain.graph->Connect(grabberIn, sourceOut), E_INVALIDARG) << "directions swapped";
    EXPECT_EQ(chain.graph->Connect(sourceOut, nullptr), E_POINTER);
    EXPECT_EQ(chain.graph->Connect(sourceOut, outsiderIn), E_FAIL) << "a filter not in the graph";
    EXPECT_EQ(chain.graph->Connect(sourceOut, grabberIn), S_OK);
    EXPECT_EQ(chain.graph->Connect(sourceOut, grabberIn), VFW_E_ALREADY_CONNECTED);
    EXPECT_EQ(chain.graph->AddFilter(chain.grabberFilter, u"Again"), E_FAIL) << "already added";
    for (IUnknown* object : std::vector<IUnknown*>{sourceOut, grabberIn, outsiderIn, outsider})
        object->Release();
}

TEST(CaptureService, RenderStreamRendersOnlyAFreeOutput) {
    CoInitialize(nullptr);
    Chain chain(sourceFrom("videotestsrc"));
    auto* builder =
        make<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, chain.source, nullptr,
                                    nullptr),
              E_UNEXPECTED)
        << "no graph set yet";
    ASSERT_EQ(builder->SetFiltergraph(chain.graph), S_OK);
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, chain.source, nullptr,
                                    nullptr),
              S_OK)
        << "the free capture pin goes to a null renderer";
    EXPECT_EQ(builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, chain.source, nullptr,
                                    nullptr),
              E_FAIL)
        << "nothing left to render";
    IAMStreamConfig* config = nullptr;
    EXPECT_EQ(builder->FindInterface(nullptr, nullptr, chain.source, IID_IAMStreamConfig,
                                     reinterpret_cast<void**>(&config)),
              S_OK);
    ASSERT_NE(config, nullptr);
    config->Release();
    builder->Release();
}

} // namespace

namespace {

// What a camera is asked for, from the modes it offers: raw before JPEG, the smallest size that
// reaches 160 x 120 (else the largest), the highest frame rate up to 60.
TEST(CaptureService, CamerasAreAskedForTheSmallestModeThatReachesTheCaptureSize) {
    CoInitialize(nullptr);
    struct Case {
        const char* offered;
        const char* asked;
    };
    const Case cases[] = {
        {"video/x-raw,width=640,height=480,framerate=30/1; "
         "video/x-raw,width=320,height=240,framerate={ 15/1, 30/1 }; "
         "video/x-raw,width=160,height=90,framerate=60/1",
         "video/x-raw, width=(int)320, height=(int)240, framerate=(fraction)30/1"},
        {"image/jpeg,width=160,height=120,framerate=30/1; "
         "video/x-raw,width=640,height=480,framerate=30/1",
         "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)30/1"},
        {"image/jpeg,width=1280,height=720,framerate={ 30/1, 60/1, 120/1 }",
         "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)60/1"},
        {"video/x-raw,width=[ 64, 4096 ],height=[ 48, 2160 ],framerate=[ 1/1, 90/1 ]",
         "video/x-raw, width=(int)160, height=(int)120, framerate=(fraction)60/1"},
        {"video/x-raw,width=120,height=90; video/x-raw,width=80,height=60",
         "video/x-raw, width=(int)120, height=(int)90"},
    };
    for (const Case& c : cases) {
        GstCaps* offered = gst_caps_from_string(c.offered);
        GstCaps* asked = capture::cameraMode(offered, 160, 120);
        gchar* text = asked ? gst_caps_to_string(asked) : nullptr;
        EXPECT_STREQ(text, c.asked) << c.offered;
        g_free(text);
        if (asked)
            gst_caps_unref(asked);
        gst_caps_unref(offered);
    }
    GstCaps* audio = gst_caps_from_string("audio/x-raw,rate=48000");
    EXPECT_EQ(capture::cameraMode(audio, 160, 120), nullptr) << "no video, nothing to ask for";
    gst_caps_unref(audio);
}

} // namespace

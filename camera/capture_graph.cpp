// The capture graph: the first video input device through a sample grabber into a null
// renderer, built once on the capture service; the frame copy of every grabFrame; and the
// user's choice of source. The only code of the program that talks to the capture service.
#include "camera/camera_grid.h"

#include "platform/capture_service.h"

#include <cstdlib>
#include <vector>

namespace {

const DWORD kInprocServerOrHandler = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER; // 3

// References a build holds for the rest of the process beyond the grid's own fields: the
// capture graph builder, the media control and the two pins the build looked up. Kept in a list
// that is never destroyed, so they stay reachable until the process ends.
struct HeldReferences {
    ICaptureGraphBuilder2* builder;
    IMediaControl* control;
    IPin* sourcePin;
    IPin* grabberPin;
};

void holdForProcess(const HeldReferences& held) {
    static auto* everything = new std::vector<HeldReferences>;
    everything->push_back(held);
}

// The filter's first pin of the wanted direction, with its reference, or null. Every pin passed
// over is released, and so is the enumerator.
IPin* firstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    if (!filter)
        return nullptr;
    IEnumPins* pins = nullptr;
    filter->EnumPins(&pins);
    if (!pins)
        return nullptr;
    IPin* found = nullptr;
    IPin* pin = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK && pin) {
        PIN_DIRECTION direction = PINDIR_INPUT;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted)
            found = pin;
        else
            pin->Release();
        pin = nullptr;
    }
    pins->Release();
    return found;
}

// The grabber takes 24-bit RGB video and nothing more specific: every other field is zero.
AM_MEDIA_TYPE grabberMediaType() {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    return type;
}

// Asks the capture source for width x height, bottom row first, uncompressed; only a video-info
// format with its whole block present is changed. Everything else stays as the device said.
void requestCaptureFormat(IAMStreamConfig* streamConfig, int32_t width, int32_t height) {
    if (!streamConfig)
        return;
    AM_MEDIA_TYPE* format = nullptr;
    streamConfig->GetFormat(&format);
    if (!format)
        return;
    if (format->formattype == FORMAT_VideoInfo && format->pbFormat &&
        format->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* video = reinterpret_cast<VIDEOINFOHEADER*>(format->pbFormat);
        video->bmiHeader.biWidth = width;
        video->bmiHeader.biHeight = height;
        video->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 3);
        video->bmiHeader.biCompression = BI_RGB;
        streamConfig->SetFormat(format);
    }
    std::free(format->pbFormat);
    std::free(format);
}

} // namespace

HRESULT CameraGrid::buildCaptureGraph(int32_t width, int32_t height) {
    // Results are not looked at unless a step depends on them; a call on an object that could
    // not be made is left out.
    CoInitialize(nullptr);
    CoCreateInstance(CLSID_FilterGraph, nullptr, kInprocServerOrHandler, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, kInprocServerOrHandler, IID_ICreateDevEnum,
                     reinterpret_cast<void**>(&deviceEnum));

    // The first video input device becomes the capture source.
    IEnumMoniker* monikers = nullptr;
    if (deviceEnum)
        deviceEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    ULONG fetched = 0;
    if (monikers && monikers->Next(1, &deviceMoniker, &fetched) == S_OK && deviceMoniker) {
        deviceMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&captureSource));
        deviceMoniker->Release();
        deviceMoniker = nullptr;
    }
    if (monikers)
        monikers->Release();
    if (deviceEnum)
        deviceEnum->Release();
    deviceEnum = nullptr;
    if (graph)
        graph->AddFilter(captureSource, u"Video Capture");

    ICaptureGraphBuilder2* builder = nullptr;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kInprocServerOrHandler,
                     IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
    if (builder)
        builder->SetFiltergraph(graph);

    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&grabberFilter));
    if (grabberFilter)
        grabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber));
    const AM_MEDIA_TYPE grabberType = grabberMediaType();
    if (grabber)
        grabber->SetMediaType(&grabberType);
    if (graph)
        graph->AddFilter(grabberFilter, u"Grabber");

    IPin* sourcePin = findPin(captureSource, PINDIR_OUTPUT);
    IPin* grabberPin = findPin(grabberFilter, PINDIR_INPUT);
    if (builder)
        builder->FindInterface(nullptr, nullptr, captureSource, IID_IAMStreamConfig,
                               reinterpret_cast<void**>(&streamConfig));
    requestCaptureFormat(streamConfig, width, height);

    // The graph's own connection puts in what lies between the device's frames and RGB24.
    if (graph)
        graph->Connect(sourcePin, grabberPin);
    if (grabber) {
        grabber->SetBufferSamples(TRUE);
        grabber->SetOneShot(FALSE);
    }

    lastResult = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IBaseFilter, reinterpret_cast<void**>(&nullRenderer));
    if (graph)
        lastResult = graph->AddFilter(nullRenderer, u"NullRenderer");
    lastResult = connectFilters(graph, grabberFilter, nullRenderer);
    // The source's preview stream to the builder's default rendering; nothing depends on it.
    if (builder)
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, captureSource, nullptr,
                              nullptr);

    IMediaControl* control = nullptr;
    HRESULT started = E_NOINTERFACE;
    if (graph)
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    if (control)
        started = control->Run();
    holdForProcess({builder, control, sourcePin, grabberPin});
    return started;
}

IPin* CameraGrid::findPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    return firstPin(filter, direction);
}

HRESULT CameraGrid::getPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
    if (!pin)
        return E_POINTER;
    IPin* found = firstPin(filter, direction);
    if (!found)
        return E_FAIL;
    *pin = found;
    return S_OK;
}

HRESULT CameraGrid::connectFilters(IGraphBuilder* graph, IBaseFilter* upstream,
                                   IBaseFilter* downstream) {
    IPin* output = nullptr;
    const HRESULT found = getPin(upstream, PINDIR_OUTPUT, &output);
    if (FAILED(found))
        return found;
    IPin* input = nullptr;
    if (FAILED(getPin(downstream, PINDIR_INPUT, &input))) {
        output->Release();
        return E_FAIL;
    }
    const HRESULT connected = graph ? graph->Connect(output, input) : E_POINTER;
    input->Release();
    output->Release();
    return connected;
}

void CameraGrid::chooseNextSource() {
    // Asked afresh each time: a press is rare, and the capture source holds the choice itself.
    ISourceChoice* choice = nullptr;
    if (captureSource)
        captureSource->QueryInterface(IID_ISourceChoice, reinterpret_cast<void**>(&choice));
    if (choice) {
        choice->ChooseNextSource();
        choice->Release();
    }
}

void CameraGrid::copyFrame() {
    // The capacity goes in with every copy: a short copy must not shrink it for the next one.
    frameBytes = pixelCount * 3;
    lastResult = grabber ? grabber->GetCurrentBuffer(&frameBytes, frameBuffer) : E_POINTER;
    freshFrame = false;
    if (lastResult != S_OK)
        return;
    if (!frameArrivalAsked) {
        frameArrivalAsked = true;
        grabber->QueryInterface(IID_IFrameArrival, reinterpret_cast<void**>(&frameArrival));
    }
    LONGLONG number = copiedFrameNumber + 1;
    if (frameArrival)
        frameArrival->GetCopiedFrameNumber(&number);
    freshFrame = number != copiedFrameNumber;
    copiedFrameNumber = number;
}

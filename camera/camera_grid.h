// The camera side of the program: the capture graph, the copy of the newest frame and its
// reduction to the grid of cells that the dots show.
#pragma once

#include "camera/color_triple.h"

#include <cstdint>

// The capture service's types, declared here so that only camera/ sees the service itself.
typedef int32_t HRESULT;
struct IGraphBuilder;
struct IMoniker;
struct IBaseFilter;
struct ICreateDevEnum;
struct IAMStreamConfig;
struct ISampleGrabber;
struct IFrameArrival;
struct IPin;
enum PIN_DIRECTION : int32_t;

class CameraGrid {
  public:
    // Allocates all storage, then builds and starts the capture graph. Called once at start-up
    // with the capture size in pixels (160 x 120) and the grid size in cells (40 x 30).
    CameraGrid(int32_t captureWidth, int32_t captureHeight, int32_t cols, int32_t rows);

    // Once per frame-loop pass: copies the newest frame and reduces it to the cells.
    void grabFrame();

    // The frame copy alone: the newest camera frame into frameBuffer, result in lastResult, and
    // whether it is one the copies before had not brought in freshFrame.
    void copyFrame();

    // On the user's request (the C key): the capture moves on to the next video source that
    // gives pictures; returns at once, and the picture changes when that source delivers.
    void chooseNextSource();

    // Turns frameBuffer upright, mirrors it and rewrites every cell's average and luminance.
    void reduceFrame();

    // Per-cell average colours and luminances; the arrays never move, their contents change
    // with every reduction.
    ColorTriple** cellColors() const { return cellAverages; }
    int32_t* cellLuminance() const { return cellLuminances; }

    // The capture graph: the first video input device through a sample grabber into a null
    // renderer, started. Returns the result of starting it.
    HRESULT buildCaptureGraph(int32_t width, int32_t height);

    // The filter's first pin of the given direction, with a reference the caller owns, or null.
    IPin* findPin(IBaseFilter* filter, PIN_DIRECTION direction);

    // The same search; S_OK with the pin stored through pin, or E_FAIL with pin untouched.
    HRESULT getPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);

    // Connects upstream's first output pin to downstream's first input pin.
    HRESULT connectFilters(IGraphBuilder* graph, IBaseFilter* upstream, IBaseFilter* downstream);

    HRESULT lastResult = 0; // latest recorded capture-service result; nothing reads it
    // The latest frame copy brought a camera frame that no copy before it had: cameras deliver
    // one every second or third pass, and the passes between copy the same frame again.
    bool freshFrame = false;

    // Capture graph references, held for the life of the process.
    IGraphBuilder* graph = nullptr;
    IMoniker* deviceMoniker = nullptr; // released once bound
    IBaseFilter* captureSource = nullptr;
    ICreateDevEnum* deviceEnum = nullptr; // released after use
    IAMStreamConfig* streamConfig = nullptr;
    IBaseFilter* grabberFilter = nullptr;
    ISampleGrabber* grabber = nullptr; // every frame copy goes through it
    IBaseFilter* nullRenderer = nullptr;

    int32_t captureWidth = 0;  // frame width in pixels (160)
    int32_t captureHeight = 0; // frame height in pixels (120)
    int32_t pixelCount = 0;    // captureWidth x captureHeight
    int32_t cols = 0;          // grid columns (40)
    int32_t rows = 0;          // grid rows (30)
    int32_t gridCellCount = 0; // cols x rows

    // The copied frame: BGR, 3 bytes a pixel, bottom row first, rows without gaps.
    uint8_t* frameBuffer = nullptr;
    int32_t frameBytes = 0; // capacity handed to the frame copy, then the bytes it copied

    ColorTriple** pixels = nullptr;       // the frame upright and mirrored, row y at y x width
    ColorTriple** cellAverages = nullptr; // average colour per cell, channels 0..255
    ColorTriple** cellSums = nullptr;     // channel sums during a reduction, zero between them
    int32_t* cellLuminances = nullptr;    // luminance per cell, 0..255
    int32_t* cellPixelCounts = nullptr;   // pixels summed per cell, zero between reductions
    float colScale = 0;                   // cols / captureWidth (0.25)
    float rowScale = 0;                   // rows / captureHeight (0.25)

  private:
    // The grabber's numbering of the frames it hands over, asked for at the first copy; null when
    // the grabber numbers none, and then every successful copy counts as a fresh frame.
    IFrameArrival* frameArrival = nullptr;
    bool frameArrivalAsked = false;
    int64_t copiedFrameNumber = 0; // the number of the frame the latest copy brought

    // Worked out once at construction so that a reduction repeats no per-pixel arithmetic.
    ColorTriple* pixelBlock = nullptr;    // the triples behind pixels, in pixel order
    int32_t* cellRowOfRow = nullptr;      // grid row of each walked row, y x rowScale truncated
    int32_t* firstColumnOfCell = nullptr; // per grid column and one more: its first walked column
    uint16_t* columnSums = nullptr; // per frame byte, its sum over up to 256 rows of a grid row
    // Per cell, for dividing by the pixels every reduction sums into it; 0 where that count is 0
    // or too large for the reciprocal, and the division is a plain one.
    uint64_t* countReciprocals = nullptr;

    // The frame row that walked row walkedRow comes from.
    const uint8_t* frameRow(int32_t walkedRow) const {
        return frameBuffer + (captureHeight - 1 - walkedRow) * captureWidth * 3;
    }

    void walkFrame();
    void accumulateCells();
    void sumColumns(int32_t firstRow, int32_t endRow);
    void addColumnsToCells(int32_t firstCell, int32_t rowCount);
    void finishCells();
};

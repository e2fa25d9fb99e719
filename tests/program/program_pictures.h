// What the program tests look for in the program's picture: where the picture lies in a window
// or on a screen, its region by region colours, and when it has come to rest.
#pragma once

#include "program_harness.h"

#include <cstddef>
#include <functional>
#include <vector>

namespace harness {

const double kStartSeconds = 15; // software OpenGL on a busy machine can be slow to start
const double kQuitSeconds = 5;
// Longest wait for the picture to show what a test did: a loaded machine draws few frames.
const double kChangeSeconds = 30;
// Largest difference of a region's mean colour channel between the window's picture and the
// scaled full-screen one: the discs' edges fall on other pixels when scaled.
const int kScaledPictureTolerance = 16;

// Where the tests put the pointer, in picture pixels: away from the middle, so that a picture
// placed or scaled wrongly would show the ring and the forces elsewhere.
const double kPointerX = 280;
const double kPointerY = 220;
// The whole picture is drawn 3 pixels higher than the pointer's place.
const double kFrameShift = -3;

// Colour bars: a picture whose parts all differ, so that a picture moved or cut shows. These
// bars stand still; the plain SMPTE pattern has a corner of snow, new in every frame, and a
// picture that never comes to rest.
const char kBars[] = "VELMORA_VIDEO_SOURCE=videotestsrc pattern=smpte-rp-219";

// Where the program's picture lies in an area of the given size: all of an 800 x 600 area, else
// the largest 4:3 part in its middle.
struct View {
    int left = 0, top = 0; // the picture's top-left corner in the area's pixels
    double scale = 1;      // area pixels per picture pixel

    View(int width, int height);
    // A picture position in the area's pixels.
    int x(double pictureX) const;
    int y(double pictureY) const;
    int length(double pictureLength) const;
};

// The mean colour of each of 8 x 6 equal regions of the area of a picture width pixels wide that
// starts at (left, top) and is areaWidth x areaHeight.
std::vector<Rgb> regionMeans(const std::vector<Rgb>& pixels, int width, int left, int top,
                             int areaWidth, int areaHeight);

// The largest difference of one colour channel between two lists of region means.
int largestDifference(const std::vector<Rgb>& a, const std::vector<Rgb>& b);

bool samePicture(const std::vector<Rgb>& a, const std::vector<Rgb>& b);

// Whether no pixel has a colour: on a black source, the red ring at the pointer has faded out.
bool greyOnly(const std::vector<Rgb>& pixels);

// The centre, in pixels from the top-left corner, of the pixels of a picture count pixels large
// and width pixels wide for which marked(index) holds; false when fewer than 20 do.
bool centreOfMarks(size_t count, int width, const std::function<bool(size_t)>& marked, double& x,
                   double& y);

// Whether over a quarter of the pixels have a colour: the bars are shown.
bool mostlyInColour(const std::vector<Rgb>& pixels);

// Waits until the picture stops changing with the ring faded out (the dots rest), up to seconds;
// empty if it does not. A picture in colour counts as settled once its colours show (in a quarter
// of the pixels, more than the ring's: before the source's first frame the dots are black) and it
// then stays the same for a second and a half, as the fading ring changes it every frame: a busy
// machine may draw no frame at all for half a second while the ring still shows faintly.
std::vector<Rgb> settledPicture(Window window, double seconds, bool grey = true);

// The window's picture of the colour bars, as the reference for the full-screen ones; empty when
// the window did not show it.
std::vector<Rgb> windowPictureOfBars();

} // namespace harness

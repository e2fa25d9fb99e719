#include "program_pictures.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>

namespace harness {

namespace {

const int kRegionCols = 8;
const int kRegionRows = 6;

} // namespace

std::vector<Rgb> regionMeans(const std::vector<Rgb>& pixels, int width, int left, int top,
                             int areaWidth, int areaHeight) {
    std::vector<Rgb> means;
    for (int row = 0; row < kRegionRows; ++row) {
        for (int col = 0; col < kRegionCols; ++col) {
            long sum[3] = {0, 0, 0};
            long count = 0;
            for (int y = top + row * areaHeight / kRegionRows;
                 y < top + (row + 1) * areaHeight / kRegionRows; ++y)
                for (int x = left + col * areaWidth / kRegionCols;
                     x < left + (col + 1) * areaWidth / kRegionCols; ++x, ++count) {
                    const Rgb& p = pixels[static_cast<size_t>(y) * width + x];
                    sum[0] += p.r;
                    sum[1] += p.g;
                    sum[2] += p.b;
                }
            means.push_back({static_cast<int>(sum[0] / count), static_cast<int>(sum[1] / count),
                             static_cast<int>(sum[2] / count)});
        }
    }
    return means;
}

int largestDifference(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
    int largest = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        for (const int d : {a[i].r - b[i].r, a[i].g - b[i].g, a[i].b - b[i].b})
            largest = std::max(largest, std::abs(d));
    return largest;
}

View::View(int width, int height) {
    scale = std::min(width / 800.0, height / 600.0);
    left = (width - static_cast<int>(std::lround(800 * scale))) / 2;
    top = (height - static_cast<int>(std::lround(600 * scale))) / 2;
}

int View::x(double pictureX) const {
    return left + static_cast<int>(std::lround(pictureX * scale));
}

int View::y(double pictureY) const {
    return top + static_cast<int>(std::lround(pictureY * scale));
}

int View::length(double pictureLength) const {
    return static_cast<int>(std::lround(pictureLength * scale));
}

bool samePicture(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b)
            return false;
    return true;
}

bool greyOnly(const std::vector<Rgb>& pixels) {
    for (const Rgb& p : pixels)
        if (p.r != p.g || p.g != p.b)
            return false;
    return true;
}

bool centreOfMarks(size_t count, int width, const std::function<bool(size_t)>& marked, double& x,
                   double& y) {
    const int kFewest = 20;
    double sumX = 0, sumY = 0;
    int marks = 0;
    for (size_t i = 0; i < count; ++i)
        if (marked(i)) {
            sumX += static_cast<double>(i % static_cast<size_t>(width));
            sumY += static_cast<double>(i / static_cast<size_t>(width));
            ++marks;
        }
    if (marks < kFewest)
        return false;
    x = sumX / marks;
    y = sumY / marks;
    return true;
}

bool mostlyInColour(const std::vector<Rgb>& pixels) {
    size_t coloured = 0;
    for (const Rgb& p : pixels)
        coloured += p.r != p.g || p.g != p.b;
    return coloured > pixels.size() / 4;
}

std::vector<Rgb> settledPicture(Window window, double seconds, bool grey) {
    int width = 0, height = 0;
    if (!grey)
        waitUntil(seconds, [&] { return mostlyInColour(grab(window, width, height)); });
    const double steady = grey ? 0.5 : 1.5;
    std::vector<Rgb> last = grab(window, width, height);
    for (double waited = 0, same = 0; waited < seconds; waited += 0.5) {
        pause(0.5);
        std::vector<Rgb> now = grab(window, width, height);
        same = samePicture(now, last) ? same + 0.5 : 0;
        if (same >= steady && (!grey || greyOnly(now)))
            return now;
        last = now;
    }
    return {};
}

std::vector<Rgb> windowPictureOfBars() {
    Program program({"window"}, {kBars});
    const Window window = findTitled("Velmora", kStartSeconds);
    const std::vector<Rgb> picture =
        window ? settledPicture(window, kChangeSeconds, false) : std::vector<Rgb>{};
    int width = 0, height = 0;
    if (window)
        windowSize(window, width, height);
    program.signal(SIGTERM);
    program.wait(kQuitSeconds);
    return width == 800 && height == 600 ? picture : std::vector<Rgb>{};
}

} // namespace harness

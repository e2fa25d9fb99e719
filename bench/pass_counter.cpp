// Counts the frame passes of the real program from outside: loaded with LD_PRELOAD, it stands in
// for SDL_GL_SwapBuffers, which the program calls once at the end of every pass, notes the wall
// time, the calling thread's and the whole process's CPU time of each call, and calls SDL's own.
// When the program ends it writes, to the file named by VELMORA_PASS_COUNT_FILE, one line over
// the passes of the last VELMORA_PASS_COUNT_SECONDS (default 2) seconds before the last swap:
//     <passes a second> <main thread's CPU s a second> <passes counted> <process's CPU s a second>
//     <median wall time of 20 passes in a row, the glide home, ms; 0 with fewer passes>
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

struct Sample {
    int64_t wallNs;       // monotonic clock at the swap
    int64_t cpuNs;        // CPU time of the calling thread at the swap
    int64_t processCpuNs; // CPU time of all the process's threads at the swap
};

const int kSamples = 1 << 14; // the most recent swaps kept; over 4 minutes at 60 a second
Sample samples[kSamples];
int64_t swaps = 0;

int64_t nanoseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The median wall time of every run of 20 passes from swap first to swap last, ms.
double medianOfTwentyPasses(int64_t first, int64_t last) {
    static int64_t spans[kSamples];
    int count = 0;
    for (int64_t end = first + 20; end <= last; ++end)
        spans[count++] = samples[end % kSamples].wallNs - samples[(end - 20) % kSamples].wallNs;
    if (count == 0)
        return 0;
    std::nth_element(spans, spans + count / 2, spans + count);
    return spans[count / 2] / 1e6;
}

void writeCount() {
    const char* path = std::getenv("VELMORA_PASS_COUNT_FILE");
    if (!path || swaps < 2)
        return;
    const char* secondsText = std::getenv("VELMORA_PASS_COUNT_SECONDS");
    const double seconds = secondsText ? std::atof(secondsText) : 2;
    const Sample& last = samples[(swaps - 1) % kSamples];
    int64_t first = swaps - 1;
    const int64_t oldest = swaps > kSamples ? swaps - kSamples : 0;
    while (first > oldest && last.wallNs - samples[(first - 1) % kSamples].wallNs <= seconds * 1e9)
        --first;
    const Sample& start = samples[first % kSamples];
    const double wall = (last.wallNs - start.wallNs) / 1e9;
    if (FILE* file = std::fopen(path, "w")) {
        const int64_t passes = swaps - 1 - first;
        const double perSecond = wall > 0 ? 1e-9 / wall : 0;
        std::fprintf(file, "%.2f %.3f %lld %.3f %.0f\n", passes * 1e9 * perSecond,
                     (last.cpuNs - start.cpuNs) * perSecond, static_cast<long long>(passes),
                     (last.processCpuNs - start.processCpuNs) * perSecond,
                     medianOfTwentyPasses(first, swaps - 1));
        std::fclose(file);
    }
}

} // namespace

extern "C" void SDL_GL_SwapBuffers() {
    using Swap = void (*)();
    static Swap real = [] {
        std::atexit(writeCount);
        return reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "SDL_GL_SwapBuffers"));
    }();
    real();
    samples[swaps % kSamples] = {nanoseconds(CLOCK_MONOTONIC), nanoseconds(CLOCK_THREAD_CPUTIME_ID),
                                 nanoseconds(CLOCK_PROCESS_CPUTIME_ID)};
    ++swaps;
}

// Gives the real program's free heap back to the system when asked, so that a long run's readings
// of its resident size count the memory it holds, not what glibc keeps free for reuse (which
// jumps by many MB at a time as large blocks come and go in the threads' arenas). Loaded with
// LD_PRELOAD, it starts a thread that looks ten times a second for the file
// $VELMORA_HEAP_TRIM_FILE.<process id>; when the file is there, it calls malloc_trim(0), which
// returns every whole free page of every arena, and removes the file to say it is done. Memory
// the program still holds, leaked or not, stays resident.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

void* answerRequests(void* data) {
    // Signals go to the program's own threads, as they would without this one.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const auto* request = static_cast<const std::string*>(data);
    const timespec tenth = {0, 100000000};
    for (;;) {
        if (access(request->c_str(), F_OK) == 0) {
            malloc_trim(0);
            unlink(request->c_str());
        }
        nanosleep(&tenth, nullptr);
    }
    return nullptr;
}

// The process id in the name keeps the processes the program starts (GStreamer's plugin
// scanner) from answering for it.
__attribute__((constructor)) void startAnswering() {
    const char* file = std::getenv("VELMORA_HEAP_TRIM_FILE");
    if (!file || !*file)
        return;
    auto* request = new std::string(std::string(file) + "." + std::to_string(getpid()));
    pthread_t thread;
    if (pthread_create(&thread, nullptr, answerRequests, request) == 0)
        pthread_detach(thread);
}

} // namespace

// The program's process as the tests run it: started with its arguments and environment, its
// standard output and error collected, signalled, and waited for; one that must be killed is
// first asked where it waited.
#include "program_harness.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace harness {

namespace {

// The whole output of a shell command.
std::string outputOf(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, got);
        pclose(pipe);
    }
    return text;
}

// The first line of a file, or "?".
std::string firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    return std::getline(file, line) ? line : "?";
}

// Where the running program waits: every thread's backtrace where gdb is installed; otherwise
// each thread's name, state, kernel wait channel and system call, as /proc tells them.
std::string whereStuck(pid_t pid) {
    const std::string id = std::to_string(pid);
    std::string text;
    if (std::system("command -v gdb >/dev/null 2>&1") == 0)
        text = outputOf("timeout 60 gdb -batch -nx -p " + id +
                        " -ex 'thread apply all bt' 2>/dev/null | grep -E '^(Thread|#)'");
    if (!text.empty())
        return text;
    const std::string tasks = "/proc/" + id + "/task/";
    if (DIR* folder = opendir(tasks.c_str())) {
        while (const dirent* entry = readdir(folder)) {
            if (entry->d_name[0] == '.')
                continue;
            const std::string task = tasks + entry->d_name + "/";
            const std::string stat = firstLine(task + "stat");
            const size_t state = stat.rfind(')');
            text += std::string("thread ") + entry->d_name + " (" + firstLine(task + "comm") +
                    ") state " + (state + 2 < stat.size() ? stat.substr(state + 2, 1) : "?") +
                    ", waits in " + firstLine(task + "wchan") + ", system call " +
                    firstLine(task + "syscall") + "\n";
        }
        closedir(folder);
    }
    return text;
}

} // namespace

Program::Program(const std::vector<std::string>& args, const std::vector<std::string>& env,
                 const std::vector<std::string>& runner) {
    const char* path = std::getenv("VELMORA_PROGRAM");
    int pipeFds[2];
    int outFds[2];
    if (!path || pipe(pipeFds) != 0 || pipe(outFds) != 0)
        return;
    pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDERR_FILENO);
        dup2(outFds[1], STDOUT_FILENO);
        for (const int fd : {pipeFds[0], pipeFds[1], outFds[0], outFds[1]})
            close(fd);
        for (const std::string& entry : env) {
            const size_t eq = entry.find('=');
            const std::string name = entry.substr(0, eq);
            const std::string value = entry.substr(eq + 1);
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        for (const std::string& word : runner)
            argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(const_cast<char*>(path));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    close(outFds[1]);
    stderrFd = pipeFds[0];
    stdoutFd = outFds[0];
    fcntl(stderrFd, F_SETFL, O_NONBLOCK);
    fcntl(stdoutFd, F_SETFL, O_NONBLOCK);
}

Program::~Program() {
    if (pid > 0) {
        // Only a test that gave up early leaves its program running: say where it waited.
        std::fprintf(stderr,
                     "the program still ran at the end of the test; killed where it "
                     "waited:\n%s",
                     whereStuck(pid).c_str());
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    for (const int fd : {stderrFd, stdoutFd})
        if (fd >= 0)
            close(fd);
}

void Program::drainOutput() {
    char buffer[4096];
    ssize_t got;
    while (stderrFd >= 0 && (got = read(stderrFd, buffer, sizeof buffer)) > 0)
        stderrText.append(buffer, static_cast<size_t>(got));
    while (stdoutFd >= 0 && (got = read(stdoutFd, buffer, sizeof buffer)) > 0)
        stdoutText.append(buffer, static_cast<size_t>(got));
}

void Program::signal(int number) {
    if (pid > 0)
        kill(pid, number);
}

const std::string& Program::outputSoFar() {
    drainOutput();
    return stdoutText;
}

Outcome Program::wait(double seconds) {
    Outcome outcome;
    if (pid <= 0)
        return outcome;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        drainOutput();
        pause(0.02);
    }
    char ended[96];
    if (done == 0) {
        outcome.stuckAt = whereStuck(pid);
        std::snprintf(ended, sizeof ended, "still ran after %g s", seconds);
        std::fprintf(stderr, "the program %s; killed where it waited:\n%s", ended,
                     outcome.stuckAt.c_str());
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.status = WEXITSTATUS(status);
        std::snprintf(ended, sizeof ended, "exited with status %d", outcome.status);
    } else {
        std::snprintf(ended, sizeof ended, "ended by signal %d (%s)", WTERMSIG(status),
                      strsignal(WTERMSIG(status)));
        std::fprintf(stderr, "the program %s\n", ended);
    }
    outcome.ended = ended;
    pid = -1;
    drainOutput();
    outcome.stderrText = stderrText;
    outcome.stdoutText = stdoutText;
    return outcome;
}

bool isOneLine(const std::string& text) {
    return !text.empty() && text.find('\n') == text.size() - 1;
}

} // namespace harness

// Where a kept picture or clip goes and under which name, and what is said when it cannot be
// written: without a display, on folders of the test's own.
#include "platform/clip_file.h"
#include "platform/kept_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
struct TemporaryFolder {
    std::string path;
    TemporaryFolder() {
        std::string name = (fs::temp_directory_path() / "velmora-picture-test-XXXXXX").string();
        path = mkdtemp(&name[0]) ? name : "";
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

void writeFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What work returns, worked out in a child process: GLib reads the home folder and the user-dirs
// file once per process, and a limit on file sizes must not reach the test itself.
std::string inChild(const std::function<std::string()>& work) {
    int fds[2];
    if (pipe(fds) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const std::string result = work();
        const ssize_t ignored = write(fds[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string result;
    char buffer[512];
    ssize_t got;
    while ((got = read(fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<size_t>(got));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return result;
}

TEST(KeptFiles, UserDirsFileElsePicturesOrVideosElseHome) {
    struct Case {
        const char* what;
        KeptKind kind;
        const char* userDirs;   // XDG_CONFIG_HOME's user-dirs.dirs, null for none
        const char* configDirs; // the same file in ~/.config, null for none
        const char* folder;     // made under the home folder, null for none
        const char* expected;   // under the home folder
    };
    const KeptKind picture = KeptKind::picture, clip = KeptKind::clip;
    const char* both = "XDG_PICTURES_DIR=\"$HOME/Snaps\"\nXDG_VIDEOS_DIR=\"$HOME/Films\"\n";
    const Case cases[] = {
        {"the user-dirs file", picture, both, nullptr, "/Pictures", "/Snaps"},
        {"the user-dirs file in ~/.config", picture, nullptr, "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n",
         "/Pictures", "/Fotos"},
        {"a file without the pictures line", picture, "XDG_MUSIC_DIR=\"$HOME/Music\"\n", nullptr,
         "/Pictures", "/Pictures"},
        {"no file, ~/Pictures", picture, nullptr, nullptr, "/Pictures", "/Pictures"},
        {"no file, no ~/Pictures", picture, nullptr, nullptr, nullptr, ""},
        {"clips: the user-dirs file", clip, both, nullptr, "/Videos", "/Films"},
        {"clips: a file with the pictures line alone", clip, "XDG_PICTURES_DIR=\"$HOME/Snaps\"\n",
         nullptr, "/Videos", "/Videos"},
        {"clips: no file, ~/Pictures but no ~/Videos", clip, nullptr, nullptr, "/Pictures", ""},
    };
    for (const Case& c : cases) {
        TemporaryFolder top;
        const std::string home = top.path + "/home";
        const std::string config = top.path + "/config";
        fs::create_directories(home);
        if (c.userDirs)
            writeFile(config + "/user-dirs.dirs", c.userDirs);
        if (c.configDirs)
            writeFile(home + "/.config/user-dirs.dirs", c.configDirs);
        if (c.folder)
            fs::create_directories(home + c.folder);
        const bool setConfig = c.configDirs == nullptr;
        const std::string folder = inChild([&] {
            setenv("HOME", home.c_str(), 1);
            if (setConfig)
                setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            else
                unsetenv("XDG_CONFIG_HOME");
            return keptFolder(c.kind);
        });
        EXPECT_EQ(folder, home + c.expected) << c.what;
    }
}

const std::tm kTaken = [] {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 12 - 1;
    t.tm_mday = 8;
    t.tm_hour = 10;
    t.tm_min = 15;
    t.tm_sec = 2;
    return t;
}();

// Keeps bytes as a file of the kind, as the program does: a picture in one call, a clip written
// into its temporary file and then named.
bool keep(KeptKind kind, const std::string& folder, const std::string& bytes, std::string& path,
          std::string& failure) {
    if (kind == KeptKind::picture)
        return savePictureBytes(folder, kTaken, bytes.data(), bytes.size(), path, failure);
    std::string temporary;
    const int fd = createKeptTemporary(folder, kind, temporary, failure);
    if (fd < 0)
        return false;
    const bool written = write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(fd);
    return written && nameKeptFile(folder, kind, kTaken, temporary, path, failure);
}

TEST(KeptFiles, NamedAfterTheTimeAndNeverOverwritten) {
    for (const std::string extension : {"png", "webm"}) {
        const KeptKind kind = extension == "png" ? KeptKind::picture : KeptKind::clip;
        TemporaryFolder folder;
        const std::string stem = folder.path + "/velmora-2026-12-08-10-15-02";
        // Another file of the same second, written earlier, keeps its bytes.
        writeFile(stem + "-2." + extension, "earlier");
        for (const std::string number : {"", "-3", "-4"}) {
            const std::string bytes = "file " + number;
            std::string path, failure;
            EXPECT_TRUE(keep(kind, folder.path, bytes, path, failure)) << failure;
            EXPECT_EQ(path, stem + number + "." + extension);
            EXPECT_EQ(readFile(path), bytes) << path;
        }
        EXPECT_EQ(readFile(stem + "-2." + extension), "earlier") << "the taken name is kept";
        size_t files = 0;
        for ([[maybe_unused]] const fs::directory_entry& entry :
             fs::directory_iterator(folder.path))
            ++files;
        EXPECT_EQ(files, 4u) << "three " << extension << " files, the earlier one, no temporary";
    }
}

bool isEmpty(const std::string& folder) {
    return fs::is_empty(folder);
}

TEST(KeptFiles, AFailureIsOneLineThatSaysWhyAndWhereAndLeavesNothing) {
    TemporaryFolder top;
    const std::string missing = top.path + "/missing";
    const std::string file = top.path + "/file";
    const std::string full = top.path + "/full";
    writeFile(file, "not a folder");
    fs::create_directories(full);
    const std::string bytes(100000, 'x');
    struct Case {
        const char* what;
        KeptKind kind;
        std::string folder;
        bool limitFileSize; // a file may grow to 1000 bytes only, as on a full disk
        std::string expected;
    };
    const Case cases[] = {
        {"no such folder", KeptKind::picture, missing, false,
         "velmora: cannot save a picture in " + missing + ": No such file or directory"},
        {"a file, not a folder", KeptKind::picture, file + "/sub", false,
         "velmora: cannot save a picture in " + file + "/sub: Not a directory"},
        {"the write fails half-way", KeptKind::picture, full, true,
         "velmora: cannot save a picture in " + full + ": File too large"},
        {"a clip, no such folder", KeptKind::clip, missing, false,
         "velmora: cannot record a clip in " + missing + ": No such file or directory"},
    };
    for (const Case& c : cases) {
        const std::string result = inChild([&] {
            if (c.limitFileSize) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{1000, 1000};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::string path, failure;
            const bool saved = keep(c.kind, c.folder, bytes, path, failure);
            return (saved ? "saved " : "") + path + "|" + failure;
        });
        EXPECT_EQ(result, "|" + c.expected) << c.what;
    }
    EXPECT_TRUE(isEmpty(full)) << "no temporary file is left behind";
    EXPECT_FALSE(fs::exists(missing));
}

// How many entries a /proc folder of this process lists, "." and ".." left out.
int countEntries(const char* folder) {
    int count = 0;
    DIR* listing = opendir(folder);
    while (listing && readdir(listing))
        ++count;
    if (listing)
        closedir(listing);
    return count - 2;
}

// Open descriptors (less the listing's own) and threads, in words.
std::string openAndRunning() {
    return std::to_string(countEntries("/proc/self/fd") - 1) + " descriptors, " +
           std::to_string(countEntries("/proc/self/task")) + " threads";
}

// Records a clip of a few small frames through the frame pass's calls, as R, R does, and waits
// until it is kept.
void recordShortClip() {
    startClip(160, 120, 160, 120);
    for (int frame = 0; frame < 8; ++frame) {
        if (uint8_t* pixels = claimClipFrame()) {
            std::memset(pixels, 16 * frame, 160 * 120 * 4);
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            writeClipFrame(pixels, int64_t{now.tv_sec} * 1000000000 + now.tv_nsec);
        }
        usleep(30000);
    }
    stopClip();
    finishClips(10);
}

// A program on a wall records clip after clip: each one gives back what it took, down to its
// encoder's pipeline (and its bus's sockets) and threads, however many are recorded.
TEST(KeptFiles, EveryClipGivesBackItsDescriptorsAndThreads) {
    TemporaryFolder top;
    fs::create_directories(top.path + "/Videos");
    const std::string counts = inChild([&] {
        setenv("HOME", top.path.c_str(), 1);
        setenv("XDG_CONFIG_HOME", top.path.c_str(), 1);
        // The first clip loads the plugins and starts GStreamer's own threads, once.
        recordShortClip();
        usleep(100000);
        const std::string before = openAndRunning();
        for (int clip = 0; clip < 3; ++clip)
            recordShortClip();
        usleep(100000);
        return before + " -> " + openAndRunning();
    });
    const std::string first = counts.substr(0, counts.find(" ->"));
    EXPECT_EQ(counts, first + " -> " + first) << "three more clips leave nothing open";
    size_t clips = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(top.path + "/Videos"))
        clips += entry.path().extension() == ".webm";
    EXPECT_EQ(clips, 4u) << "every clip was kept";
}

} // namespace

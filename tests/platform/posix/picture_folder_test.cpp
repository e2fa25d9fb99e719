// Where a kept picture goes and under which name, and what is said when it cannot be written:
// without a display, on folders of the test's own.
#include "platform/picture_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
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

TEST(PictureFolder, UserDirsFileElsePicturesElseHome) {
    struct Case {
        const char* what;
        const char* userDirs;   // XDG_CONFIG_HOME's user-dirs.dirs, null for none
        const char* configDirs; // the same file in ~/.config, null for none
        bool picturesFolder;    // whether ~/Pictures exists
        const char* expected;   // under the home folder
    };
    const Case cases[] = {
        {"the user-dirs file", "XDG_PICTURES_DIR=\"$HOME/Snaps\"\n", nullptr, true, "/Snaps"},
        {"the user-dirs file in ~/.config", nullptr, "XDG_PICTURES_DIR=\"$HOME/Fotos\"\n", true,
         "/Fotos"},
        {"a file without the pictures line", "XDG_MUSIC_DIR=\"$HOME/Music\"\n", nullptr, true,
         "/Pictures"},
        {"no file, ~/Pictures", nullptr, nullptr, true, "/Pictures"},
        {"no file, no ~/Pictures", nullptr, nullptr, false, ""},
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
        if (c.picturesFolder)
            fs::create_directories(home + "/Pictures");
        const bool setConfig = c.configDirs == nullptr;
        const std::string folder = inChild([&] {
            setenv("HOME", home.c_str(), 1);
            if (setConfig)
                setenv("XDG_CONFIG_HOME", config.c_str(), 1);
            else
                unsetenv("XDG_CONFIG_HOME");
            return picturesFolder();
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

TEST(PictureFolder, NamedAfterTheTimeAndNeverOverwritten) {
    TemporaryFolder folder;
    const std::string stem = folder.path + "/velmora-2026-12-08-10-15-02";
    // Another picture of the same second, written earlier, keeps its bytes.
    writeFile(stem + "-2.png", "earlier");
    const std::string expected[] = {stem + ".png", stem + "-3.png", stem + "-4.png"};
    for (const std::string& name : expected) {
        const std::string bytes = "picture for " + name;
        std::string path, failure;
        EXPECT_TRUE(
            savePictureBytes(folder.path, kTaken, bytes.data(), bytes.size(), path, failure))
            << failure;
        EXPECT_EQ(path, name);
        EXPECT_EQ(readFile(path), bytes) << path;
    }
    EXPECT_EQ(readFile(stem + "-2.png"), "earlier") << "the taken name is left as it was";
    size_t files = 0;
    for ([[maybe_unused]] const fs::directory_entry& entry : fs::directory_iterator(folder.path))
        ++files;
    EXPECT_EQ(files, 4u) << "the three pictures and the earlier one, no temporary file";
}

bool isEmpty(const std::string& folder) {
    return fs::is_empty(folder);
}

TEST(PictureFolder, AFailureIsOneLineThatSaysWhyAndWhereAndLeavesNothing) {
    TemporaryFolder top;
    const std::string missing = top.path + "/missing";
    const std::string file = top.path + "/file";
    const std::string full = top.path + "/full";
    writeFile(file, "not a folder");
    fs::create_directories(full);
    const std::string bytes(100000, 'x');
    struct Case {
        const char* what;
        std::string folder;
        bool limitFileSize; // a file may grow to 1000 bytes only, as on a full disk
        std::string expected;
    };
    const Case cases[] = {
        {"no such folder", missing, false,
         "velmora: cannot save a picture in " + missing + ": No such file or directory"},
        {"a file, not a folder", file + "/sub", false,
         "velmora: cannot save a picture in " + file + "/sub: Not a directory"},
        {"the write fails half-way", full, true,
         "velmora: cannot save a picture in " + full + ": File too large"},
    };
    for (const Case& c : cases) {
        const std::string result = inChild([&] {
            if (c.limitFileSize) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{1000, 1000};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::string path, failure;
            const bool saved =
                savePictureBytes(c.folder, kTaken, bytes.data(), bytes.size(), path, failure);
            return (saved ? "saved " : "") + path + "|" + failure;
        });
        EXPECT_EQ(result, "|" + c.expected) << c.what;
    }
    EXPECT_TRUE(isEmpty(full)) << "no temporary file is left behind";
    EXPECT_FALSE(fs::exists(missing));
}

} // namespace

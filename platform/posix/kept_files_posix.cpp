#include "platform/kept_files.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How many files of one second may share a name stem before the naming gives up.
const int kMostNumbers = 1000;

// What differs between the kinds of file kept.
struct KindTraits {
    GUserDirectory directory; // the XDG user folder
    const char* homeFolder;   // the folder under $HOME when the user-dirs file names none
    const char* extension;    // of the final name, without the dot
    const char* failing;      // what could not be done, in a failure line
};

KindTraits traits(KeptKind kind) {
    if (kind == KeptKind::clip)
        return {G_USER_DIRECTORY_VIDEOS, "/Videos", "webm", "record a clip"};
    return {G_USER_DIRECTORY_PICTURES, "/Pictures", "png", "save a picture"};
}

bool isFolder(const std::string& path) {
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string failureLine(KeptKind kind, const std::string& folder, int error) {
    return std::string("velmora: cannot ") + traits(kind).failing + " in " + folder + ": " +
           std::strerror(error);
}

// Writes every byte to fd and makes it reach the disk; 0, or the errno of the failure.
int writeAll(int fd, const void* bytes, size_t size) {
    const char* from = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(fd, from, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : ENOSPC;
        from += written;
        size -= static_cast<size_t>(written);
    }
    return fsync(fd) == 0 ? 0 : errno;
}

// The final name for the number-th file of its second: velmora-...-SS.png, then -2, -3, ...
std::string finalName(const std::string& folder, KeptKind kind, const std::tm& taken, int number) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "velmora-%04d-%02d-%02d-%02d-%02d-%02d",
                  taken.tm_year + 1900, taken.tm_mon + 1, taken.tm_mday, taken.tm_hour,
                  taken.tm_min, taken.tm_sec);
    std::string name = folder + "/" + stamp;
    if (number > 1)
        name += "-" + std::to_string(number);
    return name + "." + traits(kind).extension;
}

// Moves the temporary file to to unless a file has that name: 0, or the errno. Where the
// file system cannot rename without replacing, a hard link does the same, and the temporary name
// is then removed.
int moveWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (link(from.c_str(), to.c_str()) != 0)
        return errno;
    unlink(from.c_str());
    return 0;
}

} // namespace

std::string keptFolder(KeptKind kind) {
    const KindTraits kept = traits(kind);
    const char* named = g_get_user_special_dir(kept.directory);
    if (named && *named)
        return named;
    const std::string home = g_get_home_dir();
    const std::string folder = home + kept.homeFolder;
    return isFolder(folder) ? folder : home;
}

int createKeptTemporary(const std::string& folder, KeptKind kind, std::string& temporary,
                        std::string& failure) {
    static int made = 0;
    for (int tries = 0; tries < kMostNumbers; ++tries) {
        temporary = folder + "/.velmora-" + std::to_string(getpid()) + "-" +
                    std::to_string(made++) + "." + traits(kind).extension + ".part";
        const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    failure = failureLine(kind, folder, errno);
    return -1;
}

bool nameKeptFile(const std::string& folder, KeptKind kind, const std::tm& taken,
                  const std::string& temporary, std::string& path, std::string& failure) {
    int error = EEXIST;
    for (int number = 1; number <= kMostNumbers && error == EEXIST; ++number) {
        path = finalName(folder, kind, taken, number);
        error = moveWithoutReplacing(temporary, path);
    }
    if (error == 0)
        return true;
    path.clear();
    failure = failureLine(kind, folder, error);
    return false;
}

bool savePictureBytes(const std::string& folder, const std::tm& taken, const void* bytes,
                      size_t size, std::string& path, std::string& failure) {
    std::string temporary;
    const int fd = createKeptTemporary(folder, KeptKind::picture, temporary, failure);
    if (fd < 0)
        return false;
    int error = writeAll(fd, bytes, size);
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        failure = failureLine(KeptKind::picture, folder, error);
    if (error != 0 || !nameKeptFile(folder, KeptKind::picture, taken, temporary, path, failure)) {
        unlink(temporary.c_str());
        path.clear();
        return false;
    }
    return true;
}

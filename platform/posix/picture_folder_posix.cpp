#include "platform/picture_folder.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How many pictures of one second may share a name stem before the write gives up.
const int kMostNumbers = 1000;

bool isFolder(const std::string& path) {
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string failureLine(const std::string& folder, int error) {
    return "velmora: cannot save a picture in " + folder + ": " + std::strerror(error);
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

// The final name for the number-th picture of its second: velmora-...-SS.png, then -2, -3, ...
std::string finalName(const std::string& folder, const std::tm& taken, int number) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "velmora-%04d-%02d-%02d-%02d-%02d-%02d",
                  taken.tm_year + 1900, taken.tm_mon + 1, taken.tm_mday, taken.tm_hour,
                  taken.tm_min, taken.tm_sec);
    std::string name = folder + "/" + stamp;
    if (number > 1)
        name += "-" + std::to_string(number);
    return name + ".png";
}

// Creates a temporary file in folder that no other file had, readable as the user's umask allows;
// its descriptor and name, or -1 with errno set.
int createTemporary(const std::string& folder, std::string& name) {
    static int made = 0;
    for (int tries = 0; tries < kMostNumbers; ++tries) {
        name = folder + "/.velmora-" + std::to_string(getpid()) + "-" + std::to_string(made++) +
               ".png.part";
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
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

// Gives the written temporary file the first free final name; 0, or the errno.
int nameFile(const std::string& folder, const std::tm& taken, const std::string& temporary,
             std::string& path) {
    for (int number = 1; number <= kMostNumbers; ++number) {
        path = finalName(folder, taken, number);
        const int error = moveWithoutReplacing(temporary, path);
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

} // namespace

std::string picturesFolder() {
    const char* named = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES);
    if (named && *named)
        return named;
    const std::string home = g_get_home_dir();
    const std::string pictures = home + "/Pictures";
    return isFolder(pictures) ? pictures : home;
}

bool savePictureBytes(const std::string& folder, const std::tm& taken, const void* bytes,
                      size_t size, std::string& path, std::string& failure) {
    std::string temporary;
    const int fd = createTemporary(folder, temporary);
    if (fd < 0) {
        failure = failureLine(folder, errno);
        return false;
    }
    int error = writeAll(fd, bytes, size);
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0)
        error = nameFile(folder, taken, temporary, path);
    if (error != 0) {
        unlink(temporary.c_str());
        path.clear();
        failure = failureLine(folder, error);
        return false;
    }
    return true;
}

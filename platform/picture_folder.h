// Where a kept picture goes and how it gets there: the user's pictures folder, a name after the
// time it was taken that never replaces another picture, and a write that leaves nothing
// half-done behind.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// The folder pictures are written to: XDG_PICTURES_DIR of the XDG user-dirs file
// ($XDG_CONFIG_HOME/user-dirs.dirs, ~/.config/user-dirs.dirs by default), else ~/Pictures when
// it is a folder, else the home folder ($HOME). GLib reads the file once per process. The folder
// the file names may not exist; the write then says so.
std::string picturesFolder();

// Writes size bytes of a finished PNG into folder as velmora-YYYY-MM-DD-HH-MM-SS.png after the
// local time taken, with -2, -3, ... added when that name is taken: first under a temporary name
// in the same folder, then moved to the final name only if no file has it. Returns true and sets
// path to the file's path; on failure returns false, leaves no file behind and sets failure to
// one line (without the newline) that says why and where.
bool savePictureBytes(const std::string& folder, const std::tm& taken, const void* bytes,
                      size_t size, std::string& path, std::string& failure);

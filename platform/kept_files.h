// Where the files the user keeps go and how they get there: pictures (S) in the user's pictures
// folder, clips (R) in the videos folder, each named after the time it was taken without ever
// replacing another file, and written under a hidden temporary name first, so that nothing
// half-done ever carries the final name.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

// What the user keeps: it decides the folder, the name's ending and the words of a failure line.
enum class KeptKind {
    picture, // a PNG kept with S
    clip,    // a WebM recorded with R
};

// The folder files of the kind go to: XDG_PICTURES_DIR or XDG_VIDEOS_DIR of the XDG user-dirs
// file ($XDG_CONFIG_HOME/user-dirs.dirs, ~/.config/user-dirs.dirs by default), else ~/Pictures or
// ~/Videos when it is a folder, else the home folder ($HOME). GLib reads the file once per
// process. The folder the file names may not exist; creating the file then says so.
std::string keptFolder(KeptKind kind);

// Creates a hidden temporary file in folder (.velmora-PID-N.png.part, .velmora-PID-N.webm.part)
// that no other file had, readable as the user's umask allows. Returns its descriptor, open for
// reading and writing, and sets temporary to its path; on failure returns -1 and sets failure to
// one line (without the newline) that says why and where.
int createKeptTemporary(const std::string& folder, KeptKind kind, std::string& temporary,
                        std::string& failure);

// Gives the written temporary file of folder its final name, velmora-YYYY-MM-DD-HH-MM-SS.png or
// .webm after the local time taken, with -2, -3, ... added when that name is taken, without ever
// replacing a file. Returns true and sets path; on failure returns false, leaves the temporary
// file as it is and sets failure to one line that says why and where.
bool nameKeptFile(const std::string& folder, KeptKind kind, const std::tm& taken,
                  const std::string& temporary, std::string& path, std::string& failure);

// Writes size bytes of a finished PNG into folder under a temporary name, makes them reach the
// disk and names the file with nameKeptFile. Returns true and sets path to the file's path; on
// failure returns false, leaves no file behind and sets failure to one line that says why and
// where.
bool savePictureBytes(const std::string& folder, const std::tm& taken, const void* bytes,
                      size_t size, std::string& path, std::string& failure);

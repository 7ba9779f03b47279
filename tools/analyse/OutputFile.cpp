#include "tools/analyse/OutputFile.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kelvatone::analyse {

namespace {

std::string temporaryNameFor(const std::string& path) {
    return path + ".partial-" + std::to_string(static_cast<long>(getpid()));
}

// Moves the finished file onto its target, replacing an earlier one: rename() does so on
// POSIX, while the Windows C library's refuses an existing target.
bool replaceFile(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0)
        return true;
    errno = EACCES;
    return false;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

OutputFile::~OutputFile() {
    if (temporaryPath_.empty())
        return;
    closeStream();
    std::remove(temporaryPath_.c_str());
}

bool OutputFile::open(const std::string& path, const char* what, std::string& error) {
    path_ = path;
    what_ = what;
    // The target itself must take the file: not a folder, not a file we may not replace.
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 &&
        (S_ISDIR(existing.st_mode) || access(path.c_str(), W_OK) != 0)) {
        error = "cannot write the " + what_ + " " + path + ": " +
                (S_ISDIR(existing.st_mode) ? "it is a folder" : std::strerror(errno));
        return false;
    }
    const std::string temporary = temporaryNameFor(path);
    stream_ = std::fopen(temporary.c_str(), "wb");
    if (stream_ == nullptr) {
        error = "cannot write the " + what_ + " " + path + ": " + std::strerror(errno);
        return false;
    }
    temporaryPath_ = temporary;
    return true;
}

bool OutputFile::closeStream() {
    if (stream_ == nullptr)
        return true;
    const bool written = !std::ferror(stream_);
    const bool closed = std::fclose(stream_) == 0;
    stream_ = nullptr;
    return written && closed;
}

bool OutputFile::commit(std::string& error) {
    if (!closeStream()) {
        error = "cannot write the " + what_ + " " + path_;
        return false;
    }
    if (!replaceFile(temporaryPath_, path_)) {
        error = "cannot write the " + what_ + " " + path_ + ": " + std::strerror(errno);
        return false;
    }
    temporaryPath_.clear();
    return true;
}

} // namespace kelvatone::analyse

// For the fuzz targets of the audio file readers, which take a path as the tools do: the
// input written to a file that lives in memory (memfd), named by its /proc/self/fd path.
// One InputFile serves every input of a run; each write replaces the whole content.
// Linux only, like the fuzz preset. One thread.
#pragma once

#include "tests/fuzz/FuzzCheck.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvatone::fuzz {

class InputFile {
public:
    InputFile()
        : fd(memfd_create("fuzz-input", 0)), filePath("/proc/self/fd/" + std::to_string(fd)) {
        require(fd >= 0, "no memory file for the inputs");
    }
    ~InputFile() { close(fd); }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Makes the file hold exactly these bytes.
    void write(const uint8_t* data, size_t size) {
        require(ftruncate(fd, 0) == 0, "cannot empty the input file");
        size_t written = 0;
        while (written < size) {
            const ssize_t n =
                pwrite(fd, data + written, size - written, static_cast<off_t>(written));
            require(n > 0, "cannot write the input file");
            written += static_cast<size_t>(n);
        }
    }

    const std::string& path() const { return filePath; }

private:
    const int fd;
    const std::string filePath;
};

} // namespace kelvatone::fuzz

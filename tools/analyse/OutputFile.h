// An output file that appears only when complete: it is written under a temporary name in
// the target's folder and renamed onto the target by commit(). Until then the target is
// untouched; an output never committed is removed. One thread; owns its stream.
#pragma once

#include <cstdio>
#include <string>

namespace kelvatone::analyse {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file for `path`; false with `error` set when it cannot be
    // written ("what" names the output in the message).
    bool open(const std::string& path, const char* what, std::string& error);

    bool isOpen() const { return stream_ != nullptr || !temporaryPath_.empty(); }
    std::FILE* stream() { return stream_; }
    const std::string& temporaryPath() const { return temporaryPath_; }

    // Closes the stream, so that another writer can fill temporaryPath().
    bool closeStream();

    // Closes the stream and renames the file onto its target; false with `error` set when
    // writing or renaming failed (the temporary file is then removed).
    bool commit(std::string& error);

private:
    std::FILE* stream_ = nullptr;
    std::string path_;
    std::string temporaryPath_;
    std::string what_;
};

} // namespace kelvatone::analyse

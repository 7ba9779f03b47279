// A temporary folder for a test's files, made empty in the system's temporary folder
// and removed with everything in it when the object goes. Linux only (mkdtemp).
#pragma once

#include <filesystem>
#include <string>

namespace kelvatone::testsupport {

class TempDir {
public:
    // `prefix` starts the folder's name, which ends in six random characters. Throws
    // std::system_error when the folder cannot be made.
    explicit TempDir(const std::string& prefix = "kelvatone-test-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return folder; }
    // The path of `name` inside the folder; file("") is the folder with a trailing '/'.
    std::string file(const std::string& name) const;

private:
    std::filesystem::path folder;
};

// The whole content of a file, as bytes; empty when it cannot be read.
std::string readFile(const std::string& path);

} // namespace kelvatone::testsupport

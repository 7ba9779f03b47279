// A temporary folder for a test's files, removed with everything in it at the end.
#pragma once

#include <cstdlib>
#include <string>

#include <stdlib.h>

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kelvatone-analysis-test-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

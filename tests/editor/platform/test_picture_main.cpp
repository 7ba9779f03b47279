// Draws the test picture and writes its pixels to a file: the reference for
// the comparison of our Linux layer with GDI comes from the Windows build of
// this program run under Wine (scripts/gen-gdi-reference).
#include <cstdio>
#include <cstring>

#include "tests/editor/platform/TestPicture.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: kelvatone-test-picture OUTPUT\n"
                    "Draws the GDI test picture (640 x 360) and writes its pixels to OUTPUT.\n");
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "kelvatone-test-picture: expected one OUTPUT file (see --help)\n");
        return 2;
    }
    if (!kelvatone::testpicture::writePixels(argv[1], kelvatone::testpicture::render().pixels)) {
        std::fprintf(stderr, "kelvatone-test-picture: cannot write %s\n", argv[1]);
        return 2;
    }
    return 0;
}

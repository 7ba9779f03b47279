#include "host/EditorWindow.h"

namespace kelvatone::host {

bool EditorWindow::click(int x, int y, std::string& error) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        error = "click at " + std::to_string(x) + "," + std::to_string(y) + " lies outside the " +
                std::to_string(width_) + " x " + std::to_string(height_) + " editor";
        return false;
    }
    clickInside(x, y);
    return true;
}

void EditorWindow::sizeImage(io::Image& image) const {
    image.width = width_;
    image.height = height_;
    image.rgb.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3);
}

} // namespace kelvatone::host

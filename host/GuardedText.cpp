#include "host/GuardedText.h"

#include <cstring>

namespace kelvatone::host {
namespace {
// A byte value modules have no reason to write into a text.
constexpr char kGuardByte = static_cast<char>(0xA5);
} // namespace

GuardedText::GuardedText(size_t documentedLength) : documentedLength_(documentedLength) {
    std::memset(buffer_, kGuardByte, kCapacity);
}

std::string GuardedText::text() const {
    const void* zero = std::memchr(buffer_, '\0', kCapacity);
    const size_t length =
        zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - buffer_) : kCapacity;
    return std::string(buffer_, length);
}

size_t GuardedText::bytesWritten() const {
    size_t written = kCapacity;
    while (written > 0 && buffer_[written - 1] == kGuardByte) {
        --written;
    }
    return written;
}

bool GuardedText::terminated() const {
    return std::memchr(buffer_, '\0', kCapacity) != nullptr;
}

bool GuardedText::overran() const {
    return !terminated() || bytesWritten() > documentedLength_ + 1;
}

std::string GuardedText::overrunWarning(const std::string& what) const {
    if (!terminated()) {
        return what + ": the module wrote no terminating zero within " + std::to_string(kCapacity) +
               " bytes";
    }
    return what + ": the module wrote " + std::to_string(bytesWritten()) + " bytes, more than " +
           std::to_string(documentedLength_) + " characters and a terminating zero";
}

} // namespace kelvatone::host

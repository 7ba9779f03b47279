// Text buffers handed to a module for its short texts (parameter names, displays,
// labels). VST 2.4 documents 8 characters and a terminating zero; modules that write
// more are common, so the buffer is far larger than that and pre-filled with a guard
// byte, and afterwards it tells how far the module wrote.
#pragma once

#include <cstddef>
#include <string>

namespace kelvatone::host {

// VST 2.4's limit for parameter names, displays and labels, without the zero.
constexpr size_t kShortTextLength = 8;

// Used by one thread at a time: the one asking the module for the text.
class GuardedText {
public:
    // Far more than any module should write; overruns land inside it.
    static constexpr size_t kCapacity = 512;

    explicit GuardedText(size_t documentedLength = kShortTextLength);

    // The buffer to pass to the module.
    char* data() { return buffer_; }
    // What the module wrote, up to its terminating zero (the whole buffer when it
    // wrote none).
    std::string text() const;
    // Bytes from the start up to and including the last one the module changed.
    size_t bytesWritten() const;
    bool terminated() const;
    // True when the module wrote beyond the documented characters and their zero,
    // or left no terminating zero.
    bool overran() const;
    // One sentence describing the overrun, for a warnings list; `what` names the text.
    std::string overrunWarning(const std::string& what) const;

private:
    size_t documentedLength_;
    char buffer_[kCapacity];
};

} // namespace kelvatone::host

// The first few problems a test finds, for its one-line FAIL reason.
#pragma once

#include <string>

#include "host/validate/Validation.h"

namespace kelvatone::host::validate {

// Used by the test's own thread.
class Problems {
public:
    void add(const std::string& problem) {
        if (count_++ < kKept) {
            text_ += (text_.empty() ? "" : "; ") + problem;
        }
    }
    bool empty() const { return count_ == 0; }
    std::string text() const {
        return count_ > kKept ? text_ + " (and " + std::to_string(count_ - kKept) + " more)"
                              : text_;
    }
    // Passed with `note` when nothing was found, failed with the problems otherwise.
    Outcome outcome(const std::string& note = {}) const {
        return empty() ? Outcome::pass(note) : Outcome::fail(text());
    }

private:
    static constexpr int kKept = 4;
    int count_ = 0;
    std::string text_;
};

} // namespace kelvatone::host::validate

// A small JSON writer for the host's reports: objects, arrays, numbers, strings
// (escaped, with bytes that are not UTF-8 kept as their Latin-1 characters) and null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvatone::host {

// Any thread. The JSON string literal, quotes included, for any byte string.
std::string jsonQuote(std::string_view text);

// Used by one thread at a time.
class JsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Inside an object: the name of the next value.
    void key(std::string_view name);
    void value(int64_t number);
    // Finite numbers as the shortest text that reads back as the same float;
    // NaN and infinities, which JSON cannot carry, as null.
    void value(float number);
    void value(std::string_view text);
    void value(const char* text) { value(std::string_view(text)); }
    void null();

    // The document, indented by two spaces per level, with a closing newline.
    std::string finish() const { return out_ + "\n"; }

private:
    void beforeValue();
    void open(char bracket);
    void close(char bracket);

    struct Level {
        bool empty = true;
    };
    std::string out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

} // namespace kelvatone::host

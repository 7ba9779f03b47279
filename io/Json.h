// JSON text: the one string escaper of the project's JSON output (the host's reports, the
// analysis tool's rows and its report page) and a small writer for the host's reports:
// objects, arrays, numbers, strings and null.
//
// Strings are byte strings of any content. Valid UTF-8 is kept as it is; '"' and '\\'
// are escaped, newline, tab and carriage return as \n, \t, \r, the other control
// characters and DEL as \u00XX; every byte that is not part of valid UTF-8 becomes its
// Latin-1 character (\u00XX), so the text is valid JSON whatever a module or a file name
// holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvatone::io {

// Any thread. The JSON string literal, quotes included, for any byte string.
std::string jsonQuote(std::string_view text);
// Any thread. jsonQuote with '<', '>' and '&' escaped as well (\u003c, \u003e, \u0026),
// for JSON inside an HTML script element, which no text can then close.
std::string jsonQuoteForHtml(std::string_view text);

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

} // namespace kelvatone::io

#include "io/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kelvatone::io {
namespace {

constexpr int kIndentWidth = 2;

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF count as invalid).
size_t utf8SequenceLength(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    uint32_t codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0u) != 0x80u) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const bool overlong =
        (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (overlong || surrogate || codePoint > 0x10FFFF) {
        return 0;
    }
    return length;
}

void appendUnicodeEscape(std::string& out, unsigned value) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", value);
    out += escape;
}

// Whether a byte is escaped as \u00XX so that HTML cannot read it as markup.
bool isHtmlMarkup(unsigned char byte) {
    return byte == '<' || byte == '>' || byte == '&';
}

std::string quote(std::string_view text, bool forHtml) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
            ++i;
        } else if (byte == '\n') {
            out += "\\n";
            ++i;
        } else if (byte == '\t') {
            out += "\\t";
            ++i;
        } else if (byte == '\r') {
            out += "\\r";
            ++i;
        } else if (byte < 0x20 || byte == 0x7F || (forHtml && isHtmlMarkup(byte))) {
            appendUnicodeEscape(out, byte);
            ++i;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
            ++i;
        } else if (const size_t length = utf8SequenceLength(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            // Not UTF-8: most modules that write such bytes mean Latin-1 / Windows-1252.
            appendUnicodeEscape(out, byte);
            ++i;
        }
    }
    out += '"';
    return out;
}

} // namespace

std::string jsonQuote(std::string_view text) {
    return quote(text, false);
}

std::string jsonQuoteForHtml(std::string_view text) {
    return quote(text, true);
}

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        return;
    }
    if (!levels_.back().empty) {
        out_ += ',';
    }
    levels_.back().empty = false;
    out_ += '\n';
    out_.append(levels_.size() * kIndentWidth, ' ');
}

void JsonWriter::open(char bracket) {
    beforeValue();
    out_ += bracket;
    levels_.push_back(Level{});
}

void JsonWriter::close(char bracket) {
    const bool wasEmpty = levels_.back().empty;
    levels_.pop_back();
    if (!wasEmpty) {
        out_ += '\n';
        out_.append(levels_.size() * kIndentWidth, ' ');
    }
    out_ += bracket;
}

void JsonWriter::beginObject() {
    open('{');
}
void JsonWriter::endObject() {
    close('}');
}
void JsonWriter::beginArray() {
    open('[');
}
void JsonWriter::endArray() {
    close(']');
}

void JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ += jsonQuote(name);
    out_ += ": ";
    afterKey_ = true;
}

void JsonWriter::value(int64_t number) {
    beforeValue();
    out_ += std::to_string(number);
}

void JsonWriter::value(float number) {
    if (!std::isfinite(number)) {
        null();
        return;
    }
    beforeValue();
    // The shortest of %.6g .. %.9g that reads back as the same float.
    char text[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(number));
        if (std::strtof(text, nullptr) == number) {
            break;
        }
    }
    out_ += text;
}

void JsonWriter::value(std::string_view text) {
    beforeValue();
    out_ += jsonQuote(text);
}

void JsonWriter::null() {
    beforeValue();
    out_ += "null";
}

} // namespace kelvatone::io

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "io/Json.h"

namespace kelvatone::io {
namespace {

TEST(JsonQuote, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(jsonQuote("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonQuote("tab\there\nnew\r"), "\"tab\\there\\nnew\\r\"");
    EXPECT_EQ(jsonQuote(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
}

TEST(JsonQuote, KeepsValidUtf8AndMapsOtherBytesToLatin1) {
    EXPECT_EQ(jsonQuote("\xC2\xB0"
                        "C"),
              "\"\xC2\xB0"
              "C\""); // degree sign in UTF-8
    EXPECT_EQ(jsonQuote("\xB0"
                        "C"),
              "\"\\u00b0C\""); // the same in Latin-1
    // A cut-off sequence, an overlong form and a surrogate are not UTF-8.
    EXPECT_EQ(jsonQuote("\xE2\x82"), "\"\\u00e2\\u0082\"");
    EXPECT_EQ(jsonQuote("\xC0\xAF"), "\"\\u00c0\\u00af\"");
    EXPECT_EQ(jsonQuote("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
    EXPECT_EQ(jsonQuote("\xF0\x9F\x8E\xB5"), "\"\xF0\x9F\x8E\xB5\""); // U+1F3B5
}

// The report page's JSON sits in a script element: markup characters are escaped there,
// everything else as jsonQuote writes it.
TEST(JsonQuote, ForHtmlAlsoEscapesMarkup) {
    EXPECT_EQ(jsonQuoteForHtml("</script>&"), "\"\\u003c/script\\u003e\\u0026\"");
    const std::string mixed = "a\"b\\\t\xB0\xC2\xB0\x7f";
    EXPECT_EQ(jsonQuoteForHtml(mixed), jsonQuote(mixed));
    EXPECT_EQ(jsonQuote("<&>"), "\"<&>\"");
}

TEST(JsonWriter, NestsObjectsAndArraysWithCommas) {
    JsonWriter json;
    json.beginObject();
    json.key("n");
    json.value(int64_t{-3});
    json.key("list");
    json.beginArray();
    json.value("x");
    json.null();
    json.endArray();
    json.key("empty");
    json.beginArray();
    json.endArray();
    json.endObject();
    EXPECT_EQ(json.finish(),
              "{\n  \"n\": -3,\n  \"list\": [\n    \"x\",\n    null\n  ],\n  \"empty\": []\n}\n");
}

TEST(JsonWriter, FloatsReadBackExactlyAndNonFiniteBecomesNull) {
    for (float value : {0.1f, 0.5715816f, 1.0f / 3.0f, 1e-30f, 3.4e38f}) {
        JsonWriter json;
        json.value(value);
        EXPECT_EQ(std::strtof(json.finish().c_str(), nullptr), value);
    }
    JsonWriter json;
    json.beginArray();
    json.value(std::numeric_limits<float>::quiet_NaN());
    json.value(std::numeric_limits<float>::infinity());
    json.endArray();
    EXPECT_EQ(json.finish(), "[\n  null,\n  null\n]\n");
}

} // namespace
} // namespace kelvatone::io

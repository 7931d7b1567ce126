#pragma once
// Conversion between code page 932, in which the program keeps every text, and UTF-8,
// which terminals, window toolkits and JSON speak.

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// Converts text from one encoding to another through the system's iconv. A
// character that cannot be converted becomes the replacement text (one per
// character for UTF-8 input). An encoding pair the system cannot convert throws at
// construction: text must never pass through unconverted, or UTF-8 bytes would land
// in a code page 932 file. An object converts on one thread at a time.
class TextConverter {
public:
    TextConverter(const char* to, const char* from, std::string_view replacement);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    std::string operator()(std::string_view in);

private:
    void* cd_;
    bool fromUtf8_;
    std::string replacement_;
};

// Code page 932 to UTF-8 and back. Bytes that cannot be converted become U+FFFD
// (or "?" the other way). They throw only when the system has no converter at all.
std::string cp932ToUtf8(std::string_view cp932);
std::string utf8ToCp932(std::string_view utf8);
// utf8ToCp932 that refuses rather than replaces: nothing when the text is no UTF-8 or
// holds a character that code page 932 does not have.
std::optional<std::string> utf8ToCp932Exact(std::string_view utf8);

} // namespace morvane

#include "common/Codec.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace morvane {

TextConverter::TextConverter(const char* to, const char* from, std::string_view replacement)
    : cd_(iconv_open(to, from)), fromUtf8_(std::string_view(from) == "UTF-8"), replacement_(replacement) {
    // iconv_open says it failed with (iconv_t)-1.
    if (cd_ == reinterpret_cast<void*>(-1)) // NOLINT(performance-no-int-to-ptr)
        throw std::runtime_error(std::string("no text conversion from ") + from + " to " + to + " on this system");
}

TextConverter::~TextConverter() {
    iconv_close(static_cast<iconv_t>(cd_));
}

std::string TextConverter::operator()(std::string_view in) {
    const auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh shift state for every text
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int error = errno;
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (r == static_cast<size_t>(-1) && error != E2BIG) {
            // An invalid or unconvertible character: replace it and go on. UTF-8 input
            // skips the whole character, so one character gives one replacement.
            size_t skip = 1;
            if (fromUtf8_) {
                const auto lead = static_cast<unsigned char>(*src);
                skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                for (size_t i = 1; i < skip; ++i)
                    if (i >= srcLeft || (static_cast<unsigned char>(src[i]) & 0xC0) != 0x80)
                        skip = i;
            }
            out.append(replacement_);
            src += skip;
            srcLeft -= skip;
        }
    }
    return out;
}

namespace {

bool isAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

} // namespace

std::string cp932ToUtf8(std::string_view cp932) {
    if (isAscii(cp932))
        return std::string(cp932);
    // One converter per thread: iconv keeps state, and opening one per call costs.
    thread_local TextConverter convert("UTF-8", "CP932", "\xef\xbf\xbd");
    return convert(cp932);
}

std::string utf8ToCp932(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    thread_local TextConverter convert("CP932", "UTF-8", "?");
    return convert(utf8);
}

std::optional<std::string> utf8ToCp932Exact(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    // 0xFF is no byte of any code page 932 character, so it marks what was replaced.
    thread_local TextConverter convert("CP932", "UTF-8", "\xff");
    std::string cp932 = convert(utf8);
    if (cp932.find('\xff') != std::string::npos)
        return std::nullopt;
    return cp932;
}

} // namespace morvane

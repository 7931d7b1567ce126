// Any bytes through the conversions between code page 932 and UTF-8, as file text
// reaches the terminal and the windows and typed text reaches the files. The UTF-8
// side is always valid UTF-8, and text that went through both ways once comes back
// the same from a second trip.

#include "common/Codec.h"
#include "common/TextLines.h"

#include <cstdint>
#include <string_view>

namespace {

bool validUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80           ? 1
                              : (lead >> 5) == 0x6  ? 2
                              : (lead >> 4) == 0xe  ? 3
                              : (lead >> 3) == 0x1e ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string utf8 = cp932ToUtf8(bytes);
    if (!validUtf8(utf8))
        __builtin_trap();
    const std::string once = utf8ToCp932(utf8);
    if (utf8ToCp932(cp932ToUtf8(once)) != once)
        __builtin_trap();
    utf8ToCp932(bytes);
    splitTextLines(bytes);
    return 0;
}

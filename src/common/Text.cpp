#include "common/Text.h"

#include "common/Errors.h"
#include "common/Messages.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iconv.h>
#include <random>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace morvane {

std::vector<TextLine> splitTextLines(std::string_view bytes) {
    std::vector<TextLine> lines;
    std::string current;
    int number = 1;
    auto finish = [&] {
        if (!current.empty())
            lines.push_back({std::move(current), number});
        current.clear();
        ++number;
    };
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1a')
            break;
        if (c == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            finish();
        } else if (c == '\n') {
            finish();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty())
        lines.push_back({std::move(current), number});
    return lines;
}

std::string readFileBytes(const fs::path& path) {
    std::error_code ec;
    if (!fs::exists(path, ec) || fs::is_directory(path, ec))
        throw FileNotFoundError(path.string());
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw IoError(std::string(msg::FileNotRead), path.string());
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw IoError(std::string(msg::FileNotRead), path.string());
    return bytes;
}

std::vector<TextLine> readTextLines(const fs::path& path) {
    return splitTextLines(readFileBytes(path));
}

void writeFileAtomic(const fs::path& path, std::string_view bytes) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::random_device entropy;
    const fs::path temp =
        folder /
        std::string(".").append(path.filename().string()).append(".").append(std::to_string(entropy())).append(".tmp");
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file)
        throw IoError(std::string(msg::FileNotCreated), path.string());
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    ok = ::fsync(fileno(file)) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    std::error_code ec;
    if (ok)
        fs::rename(temp, path, ec);
    if (!ok || ec) {
        fs::remove(temp, ec);
        throw IoError(std::string(msg::FileNotWritten), path.string());
    }
}

fs::path findFileNoCase(const fs::path& folder, std::string_view name) {
    auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    fs::path exact = folder / std::string(name);
    std::error_code ec;
    if (fs::exists(exact, ec))
        return exact;
    const std::string wanted = lower(name);
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (lower(it->path().filename().string()) == wanted)
            return folder / it->path().filename();
    }
    return exact;
}

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

std::string decimal(long long value) {
    return std::to_string(value);
}

} // namespace morvane

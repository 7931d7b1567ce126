#include "common/Text.h"

#include "common/Errors.h"
#include "common/Messages.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iconv.h>
#include <random>
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
    const fs::path temp = folder / ("." + path.filename().string() + "." + std::to_string(entropy()) + ".tmp");
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
    const fs::path exact = folder / std::string(name);
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

namespace {

std::string convert(std::string_view in, const char* to, const char* from, std::string_view replacement) {
    const bool fromUtf8 = std::string_view(from) == "UTF-8";
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in);
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buffer[256];
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // An invalid or unconvertible character: replace it and go on. UTF-8 input
            // skips the whole character, so one character gives one replacement.
            size_t skip = 1;
            if (fromUtf8) {
                const auto lead = static_cast<unsigned char>(*src);
                skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                for (size_t i = 1; i < skip; ++i)
                    if (i >= srcLeft || (static_cast<unsigned char>(src[i]) & 0xC0) != 0x80)
                        skip = i;
            }
            out.append(replacement);
            src += skip;
            srcLeft -= skip;
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string cp932ToUtf8(std::string_view cp932) {
    bool ascii = true;
    for (char c : cp932)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    return ascii ? std::string(cp932) : convert(cp932, "UTF-8", "CP932", "\xef\xbf\xbd");
}

std::string utf8ToCp932(std::string_view utf8) {
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    return ascii ? std::string(utf8) : convert(utf8, "CP932", "UTF-8", "?");
}

std::string decimal(long long value) {
    return std::to_string(value);
}

} // namespace morvane

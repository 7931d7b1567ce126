#include "common/Paths.h"

#include <filesystem>
#include <system_error>

namespace morvane {

namespace {
std::string_view untilZero(std::string_view path) {
    const size_t zero = path.find('\0');
    return zero == std::string_view::npos ? path : path.substr(0, zero);
}
} // namespace

std::string GetFilePassName(std::string_view path) {
    const std::string_view text = untilZero(path);
    for (size_t i = text.size(); i > 0; --i) {
        if (text[i - 1] == '\\' || text[i - 1] == '/')
            return std::string(text.substr(0, i));
    }
    return {};
}

std::string GetFileName(std::string_view path) {
    const std::string_view text = untilZero(path);
    return std::string(text.substr(GetFilePassName(text).size()));
}

std::string ProgramFile() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

std::string ProgramFolder() {
    return GetFilePassName(ProgramFile());
}

} // namespace morvane

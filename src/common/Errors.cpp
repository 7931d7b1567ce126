#include "common/Errors.h"

#include "common/Codec.h"
#include "common/Messages.h"

#include <system_error>

namespace morvane {

std::string englishReason(const FileReason& reason) {
    switch (reason.kind) {
    case FileReason::None:
        return {};
    case FileReason::Folder:
        return "a folder";
    case FileReason::Fifo:
        return "a FIFO, not a regular file";
    case FileReason::Device:
        return "a device, not a regular file";
    case FileReason::NotRegular:
        return "not a regular file";
    case FileReason::TooLarge:
        return std::string("larger than ").append(std::to_string(reason.limit)).append(" bytes");
    case FileReason::ReadOnly:
        return "read-only";
    case FileReason::System:
        return std::generic_category().message(reason.error);
    }
    return {};
}

MorvaneError::MorvaneError(std::string message, std::string location, FileReason reason)
    : std::runtime_error(message), message_(std::move(message)), location_(std::move(location)), where_(location_),
      reason_(reason) {
    if (reason_.kind != FileReason::None)
        where_.append(" (").append(englishReason(reason_)).append(")");
}

std::string placedText(std::string_view where, std::string_view message) {
    std::string text;
    if (!where.empty())
        text.append(where).append(": ");
    return text.append(message);
}

std::string utf8Text(const MorvaneError& error) {
    return placedText(error.where(), cp932ToUtf8(error.message()));
}

ConversionError::ConversionError(const std::string& columnText, std::string where)
    : InputError("'" + columnText + "' " + std::string(msg::NotAnInteger), std::move(where)), columnText_(columnText) {}

FileNotFoundError::FileNotFoundError(std::string where) : IoError(std::string(msg::FileNotFound), std::move(where)) {}

FolderError::FolderError(std::string where) : IoError(std::string(msg::FolderNotCreated), std::move(where)) {}

FileChangedError::FileChangedError(std::string where) : IoError(std::string(msg::FileChanged), std::move(where)) {}

} // namespace morvane

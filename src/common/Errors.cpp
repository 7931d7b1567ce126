#include "common/Errors.h"

#include "common/Messages.h"

namespace morvane {

ConversionError::ConversionError(const std::string& columnText, std::string where)
    : InputError("'" + columnText + "' " + std::string(msg::NotAnInteger), std::move(where)), columnText_(columnText) {}

FileNotFoundError::FileNotFoundError(std::string where) : IoError(std::string(msg::FileNotFound), std::move(where)) {}

FolderError::FolderError(std::string where) : IoError(std::string(msg::FolderNotCreated), std::move(where)) {}

} // namespace morvane

#pragma once
// The ending of a command that prints its result and may also write it as a page: the
// page is written first, and one that cannot be written still leaves the results on
// the terminal, its failure said after them.

#include "cli/CliCommon.h"
#include "common/AtomicFile.h"

#include <exception>
#include <optional>
#include <string>

namespace morvane::cli {

template <class Page, class Print>
int writePageAndPrint(const std::optional<std::string>& html, Page&& page, Print&& print) {
    std::exception_ptr failure;
    if (html) {
        try {
            writeFileAtomic(*html, page());
        } catch (...) {
            failure = std::current_exception();
        }
    }
    print();
    if (failure) {
        reportKeptFailure(failure);
        return ExitFailure;
    }
    return ExitOk;
}

} // namespace morvane::cli

// Any bytes as a card table for morvane-cli cards import. The import names what is
// wrong or makes a catalogue; a catalogue it makes goes through export and import
// again unchanged, so what a spreadsheet saves settles after one import.

#include "cards/CardExchange.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane;
    const TableImport imported = importCardTable(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!imported.problems.empty())
        return 0;
    const std::string bytes = imported.document.bytes();
    for (const TableFormat format : {TableFormat::Csv, TableFormat::Json}) {
        const TableImport again = importCardTable(exportCardTable(imported.document, format));
        if (!again.problems.empty() || again.document.bytes() != bytes)
            __builtin_trap();
    }
    return 0;
}

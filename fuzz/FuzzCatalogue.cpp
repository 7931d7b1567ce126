// Any bytes as card.dat. The load fills the tables or stops with one of the program's
// own errors, keeping the rows read before; whatever it kept can then be offered and
// read column by column as the battle reads it. Anything else escaping is a fault.
// The designer's tools take the same bytes: the document writes them back exactly,
// and a catalogue the checker finds no problem in comes back from its exported table
// byte for byte, in either format; one with problems is refused by the import.

#include "cards/CardCatalogue.h"
#include "cards/CardExchange.h"
#include "cards/CatalogueCheck.h"
#include "common/Errors.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace morvane;
    CardCatalogue catalogue;
    try {
        catalogue.loadBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const MorvaneError&) {
        // The rows before the failing line stay and must be as usable as any.
    }
    for (const SelectorEntry& entry : catalogue.characterEntries())
        if (!catalogue.offersCharacter(entry.id) || catalogue.character(entry.id).id != entry.id)
            __builtin_trap();
    for (const SelectorEntry& entry : catalogue.vehicleEntries())
        if (!catalogue.offersVehicle(entry.id) || catalogue.vehicle(entry.id).id != entry.id)
            __builtin_trap();
    // Every id the battle may ask for, in and out of the tables; the AP column of each
    // defined card as the report reads it.
    for (int32_t id = -1; id <= CardCatalogue::CharacterRows + 1; ++id) {
        for (const char kind : {'C', 'V'}) {
            const cardRecordType& row = kind == 'C' ? catalogue.character(id) : catalogue.vehicle(id);
            if (!row.defined())
                continue;
            try {
                (kind == 'C' ? catalogue.characterTraits(id) : catalogue.vehicleTraits(id)).power.get(kind, id);
            } catch (const ConversionError&) {
            }
        }
    }
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const CatalogueDocument document = CatalogueDocument::parse(bytes);
    if (document.bytes() != bytes)
        __builtin_trap();
    const bool clean = checkCatalogue(document).empty();
    for (const TableFormat format : {TableFormat::Csv, TableFormat::Json}) {
        const TableImport imported = importCardTable(exportCardTable(document, format));
        if (clean ? !imported.problems.empty() || imported.document.bytes() != bytes : imported.problems.empty())
            __builtin_trap();
    }
    return 0;
}

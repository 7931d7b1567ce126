#pragma once
// Every problem of a card catalogue at once, with the message the program itself would
// show for it: the load's for the columns start-up reads (a bad number, an id with no
// row), the battle's for the columns only a battle reads, the duplicate ids the load
// passes over in silence although the earlier card is then lost, and the numbers a
// battle or the team editor cannot use (a speed that never acts, HP of 0, a chance
// that is no percentage, an id no selector offers), each with its bound and why. The
// load stops at its first problem; the designer wants them all.

#include "cards/CardFields.h"

#include <string>
#include <vector>

namespace morvane {

class CatalogueDocument;

struct CatalogueProblem {
    size_t line = 0;                  // index of the line in the document
    const CardField* field = nullptr; // the field it is in
    std::string message;              // the program's own, code page 932
};

std::vector<CatalogueProblem> checkCatalogue(const CatalogueDocument& document);

} // namespace morvane

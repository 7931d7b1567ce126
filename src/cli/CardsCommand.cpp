#include "cards/CardCatalogue.h"
#include "cards/CardExchange.h"
#include "cards/CatalogueCheck.h"
#include "cards/CatalogueDocument.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "common/AtomicFile.h"
#include "common/Codec.h"
#include "common/Errors.h"
#include "common/Files.h"

#include <iostream>
#include <stdexcept>

namespace morvane::cli {

const char* const CardsUsage =
    R"(usage: morvane-cli cards check [FILE]
       morvane-cli cards export [FILE] [--csv | --json]
       morvane-cli cards import TABLE -o FILE

Checks a card catalogue, or turns it into a table a spreadsheet can edit and back.
FILE is the catalogue (default: card.dat in the program folder).

  check    prints every problem of the catalogue, one line each:
           FILE:LINE:COLUMN: FIELD: MESSAGE, with the message the program shows
           at start-up (or in a battle, for the columns only a battle reads)
  export   prints the catalogue as a table, UTF-8, one row a line of the file and
           one column a field; comment lines and line ends are rows and cells too
  import   makes a catalogue of such a table and writes it to FILE; a table that
           export printed gives the catalogue back byte for byte

  --csv    export as CSV (the default)
  --json   export as a JSON array, one object a row
  -o FILE  the catalogue import writes, through a temporary file and a rename

A problem of import is one line on stderr naming the row and column of the
table (in CSV the header is row 1); nothing is written while there is any.
Exit status: 0 no problem, 2 a problem of the catalogue or the table (or a bad
option), 1 anything else (FILE cannot be written).
)";

namespace {

std::string readInput(const std::filesystem::path& path, std::uintmax_t maxBytes = DefaultMaxFileBytes) {
    try {
        return readFileBytes(path, maxBytes);
    } catch (const IoError& e) {
        // A missing or unreadable input is the user's, not the program's failure.
        throw InputError(e.message(), e.where());
    }
}

std::filesystem::path catalogueArgument(const Options& options) {
    if (options.positional().size() > 2)
        throw UsageError("unexpected argument '" + options.positional()[2] + "'");
    if (options.positional().size() == 2)
        return options.positional()[1];
    return cardsPath(options);
}

std::string utf8Message(std::string_view cp932) {
    return escapeControls(cp932ToUtf8(cp932));
}

int check(const Options& options) {
    const std::filesystem::path path = catalogueArgument(options);
    const CatalogueDocument document = CatalogueDocument::parse(readInput(path, CardCatalogue::MaxFileBytes));
    const std::vector<CatalogueProblem> problems = checkCatalogue(document);
    for (const CatalogueProblem& p : problems)
        std::cout << escapeControls(path.string()) << ":" << CatalogueDocument::lineNumber(p.line) << ":"
                  << p.field->column << ": " << p.field->name << ": " << utf8Message(p.message) << "\n";
    // The problems are the answer: lost on their way out (a full disk), they must not
    // pass for a catalogue that merely has some.
    std::cout.flush();
    if (!std::cout)
        throw std::runtime_error("the standard output cannot be written");
    return problems.empty() ? ExitOk : ExitBadInput;
}

int exportTable(const Options& options) {
    if (options.flag("--csv") && options.flag("--json"))
        throw UsageError("--csv and --json cannot both be given");
    const std::filesystem::path path = catalogueArgument(options);
    const CatalogueDocument document = CatalogueDocument::parse(readInput(path, CardCatalogue::MaxFileBytes));
    std::cout << exportCardTable(document, options.flag("--json") ? TableFormat::Json : TableFormat::Csv);
    return ExitOk;
}

int importTable(const Options& options) {
    if (options.positional().size() != 2)
        throw UsageError(options.positional().size() < 2 ? "import wants the TABLE to read"
                                                         : "unexpected argument '" + options.positional()[2] + "'");
    const std::optional<std::string> output = options.value("-o");
    if (!output)
        throw UsageError("import wants -o FILE, the catalogue to write");
    const std::string table = options.positional()[1];
    refuseOutputOverInput("-o", *output, {{"the table", table}});
    const TableImport imported = importCardTable(readInput(table));
    for (const TableProblem& p : imported.problems) {
        std::string where = table;
        if (p.row > 0)
            where += ": row " + std::to_string(p.row);
        if (!p.column.empty())
            where += ", column " + p.column;
        std::cerr << "morvane-cli: " << escapeControls(placedText(where, cp932ToUtf8(p.message)))
                  << (p.detail.empty() ? "" : " (" + escapeControls(p.detail) + ")") << "\n";
    }
    if (!imported.problems.empty())
        return ExitBadInput;
    writeFileAtomic(*output, imported.document.bytes());
    std::cout << "wrote " << *output << ": " << imported.document.cardLines('C').size() << " characters, "
              << imported.document.cardLines('V').size() << " vehicles\n";
    return ExitOk;
}

} // namespace

int runCards(const std::vector<std::string>& args) {
    const Options options(args, {"-o"}, {"--help", "-h", "--csv", "--json"});
    if (options.flag("--help") || options.flag("-h")) {
        std::cout << CardsUsage;
        return ExitOk;
    }
    const std::string command = options.positional().empty() ? std::string() : options.positional().front();
    const bool exporting = command == "export";
    if (!exporting && (options.flag("--csv") || options.flag("--json")))
        throw UsageError("--csv and --json belong to cards export");
    if (command != "import" && options.value("-o"))
        throw UsageError("-o belongs to cards import");
    if (command == "check")
        return check(options);
    if (exporting)
        return exportTable(options);
    if (command == "import")
        return importTable(options);
    throw UsageError(command.empty() ? "cards wants check, export or import"
                                     : "unknown cards command '" + command + "'");
}

} // namespace morvane::cli

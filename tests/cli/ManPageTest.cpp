// The manual page of morvane-cli against the program's own help: every command it
// lists, every option of each command's synopsis and every exit status the help
// names must be described in the page, so a new command or option cannot ship
// undocumented.

#include "support/Process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

using namespace morvane::test;

namespace {

const std::string Cli = std::string(MORVANE_PROGRAM_DIR) + "/morvane-cli";

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The page as plain text for matching: roff's "\-" is a minus.
std::string manPage() {
    std::string page = readText(std::string(MORVANE_SOURCE_DIR) + "/dist/morvane-cli.1");
    return std::regex_replace(page, std::regex(R"(\\-)"), "-");
}

// From ".SS name" to the next section or subsection.
std::string commandSection(const std::string& page, const std::string& command) {
    const size_t start = page.find("\n.SS " + command + "\n");
    if (start == std::string::npos)
        return {};
    const size_t end = page.find("\n.S", start + 1);
    return page.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::set<std::string> matches(const std::string& text, const std::string& pattern) {
    std::set<std::string> found;
    const std::regex re(pattern);
    for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
        found.insert((*it)[1]);
    return found;
}

// The paragraph that begins with "Exit status:", up to the next blank line or comment,
// on one line.
std::string exitParagraph(const std::string& text) {
    const size_t start = text.find("Exit status:");
    if (start == std::string::npos)
        return {};
    const size_t end = std::min(text.find("\n\n", start), text.find("\n.\\\"", start));
    const std::string paragraph = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    return std::regex_replace(paragraph, std::regex(R"(\s+)"), " ");
}

} // namespace

TEST(ManPage, DescribesEveryCommandOptionAndExitStatusOfTheHelp) {
    const ProgramRun help = runProgram(Cli, {"--help"});
    ASSERT_EQ(help.status, 0);
    const std::set<std::string> commands = matches(help.out, R"(\n  ([a-z][a-z-]*) )");
    ASSERT_GE(commands.size(), 4u) << help.out;

    const std::string page = manPage();
    const std::string statuses = page.substr(page.find("\n.SH EXIT STATUS"));
    for (const std::string& command : commands) {
        const std::string section = commandSection(page, command);
        ASSERT_FALSE(section.empty()) << "no .SS " << command;
        EXPECT_NE(page.find(".B morvane-cli " + command + "\n"), std::string::npos) << command << " not in SYNOPSIS";

        const ProgramRun usage = runProgram(Cli, {command, "--help"});
        ASSERT_EQ(usage.status, 0) << command;
        const std::string synopsis = usage.out.substr(0, usage.out.find("\n\n"));
        const std::set<std::string> options = matches(synopsis, R"([\[ ](--?[a-z][a-z-]*))");
        EXPECT_FALSE(options.empty()) << command;
        for (const std::string& option : options) {
            // An item of its own, not a mention in passing.
            const std::regex item(R"(\n\.TP\n\.BI? )" + option + R"([ \n])");
            EXPECT_TRUE(std::regex_search(section, item)) << command << " " << option << " has no .TP item";
        }

        const std::string documented = exitParagraph(section);
        for (const std::string& status : matches(exitParagraph(usage.out), R"([:,;] (\d+) )")) {
            EXPECT_TRUE(std::regex_search(documented, std::regex("[:;] " + status + " ")))
                << command << " exit status " << status << " missing from its section";
            EXPECT_NE(statuses.find("\n.B " + status + "\n"), std::string::npos)
                << "exit status " << status << " missing from EXIT STATUS";
        }
    }
}

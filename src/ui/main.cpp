#include "ui/title.h"

#include <csignal>

int main(int argc, char** argv) {
    // Past the file size limit a write fails and says so, rather than the program
    // ending with the report and deck lists half written.
    std::signal(SIGXFSZ, SIG_IGN);
    return morvane::ProgramEntry(argc, argv);
}

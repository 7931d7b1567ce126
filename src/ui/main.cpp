#include "ui/title.h"

int main(int argc, char** argv) {
    return morvane::ProgramEntry(argc, argv);
}

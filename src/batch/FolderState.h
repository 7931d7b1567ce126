#pragma once
// What a numbered batch folder holds, as every reader of a batch root sees it: the
// runner's scan, the runner itself, the folder watch and the battle service all ask
// here, so that they never disagree on whether a folder waits, is played or is done.
//
// A folder is empty until its "deck.dat" is there; the pair is whole once it has a
// second line that ended, or whose ids are all there; a whole pair without
// "battle.html" is ready, or claimed while a runner holds ".morvane-claim"; a folder
// with its report is done. Names are found without regard to case.

#include <exception>
#include <string>
#include <string_view>

namespace morvane {

enum class FolderState {
    Missing, // the folder is not there (never made, or deleted)
    Empty,   // no deck pair (a report without one counts for nothing)
    Writing, // a deck pair that is not whole yet: its writer may still be at work
    Ready,   // a whole deck pair and no report: to be claimed and played
    Claimed, // the same, held by a runner
    Done,    // the report is there
    Failed,  // the folder or its files cannot be looked into (problem says why)
};

struct FolderLook {
    FolderState state = FolderState::Missing;
    std::exception_ptr problem;  // Failed: IoError naming the file
    bool claimFile = false;      // a claim file is there (also in a done folder)
    bool temporaryFiles = false; // temporary files of a deck pair, claim or report are there
};

// Looks at folder (a path ending with "/") once. Never throws.
FolderLook lookAtBatchFolder(const std::string& folder);

// Whether the bytes of a deck.dat hold a whole pair: a second line that ended with a
// line break, or that holds a deck line's ids in full (a hand-written file may lack
// the last line break). What follows a byte 26 is no part of the file.
bool wholeDeckPair(std::string_view bytes);

// Removes the temporary files of the folder's deck pair, claim and report whose
// writers are gone; a live writer's file is locked and stays.
void sweepBatchTemporaries(const std::string& folder);

} // namespace morvane

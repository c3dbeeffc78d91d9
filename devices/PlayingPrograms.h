#pragma once
// PlayingPrograms: the programs a user can choose from, made of the server's playback streams and
// the names stored from an earlier choice.
//
// A program is named by what survives its restart (ProgramKey: the binary, else application.name);
// a program that gave neither cannot be chosen and is left out. A stored name that matches no
// playing program (the program is closed, or plays nothing now) stays listed after the playing
// ones, with no streams, so that a choice never disappears behind the user's back.
//
// Thread-safety: a pure function.

#include "PulseContext.h"

#include <string>
#include <vector>

struct PlayingProgram {
    std::string key;      // the name it is stored by
    std::string name;     // the name shown: application.name, else the key
    std::string iconName; // application.icon_name, empty when it gave none
    int streams = 0;      // its playback streams now; 0 = stored, not playing
    bool chosen = false;  // one of the stored names matches it

    bool operator==(const PlayingProgram&) const = default;
};

// The programs of streams in the order their first stream appeared, then the stored names no
// playing program answers to. A stored name matches a program by its key or its application.name.
std::vector<PlayingProgram> ListPlayingPrograms(const std::vector<PulseSinkInput>& streams,
                                                const std::vector<std::string>& stored);

#pragma once
// Version numbers "major.minor.revision" of the program and of the service's releases.
// Stateless; any thread.

#include <string>

// The program's own version.
inline constexpr const char* kProgramVersion = "1.4.2";

struct VersionNumber {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// Splits text at every "." (empty parts skipped: "1..4.2" is 1, 4, 2) and reads the first three
// parts as decimal numbers. False, with version untouched, when there are fewer than three parts
// or one of the three is not a plain non-negative number that fits an int.
bool ParseVersion(const std::string& text, VersionNumber& version);

// Part by part: a greater major wins, then minor, then revision; equal is not newer.
bool IsNewerVersion(const VersionNumber& candidate, const VersionNumber& current);

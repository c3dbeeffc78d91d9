// The programs offered for choosing: grouped by the name that survives a restart, nameless ones
// left out, stored ones that play nothing kept.

#include "PlayingPrograms.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

PulseSinkInput Stream(const char* appName, const char* binary, const char* icon = "")
{
    return {.appName = appName, .binary = binary, .iconName = icon};
}

TEST(PlayingProgramsTest, ProgramsByTheirLastingNameWithTheStoredOnesKept)
{
    const struct {
        const char* what;
        std::vector<PulseSinkInput> streams;
        std::vector<std::string> stored;
        std::vector<PlayingProgram> listed;
    } rows[] = {
        {"two streams of one browser, then a player",
         {Stream("Firefox", "firefox", "firefox"), Stream("mpv", ""), Stream("Firefox", "firefox")},
         {},
         {{"firefox", "Firefox", "firefox", 2, false}, {"mpv", "mpv", "", 1, false}}},
        {"a program without any name cannot be chosen; one with a binary only shows it",
         {Stream("", ""), Stream("", "paplay")},
         {""},
         {{"paplay", "paplay", "", 1, false}}},
        {"stored by binary or by application.name: the playing program is chosen",
         {Stream("Firefox", "firefox"), Stream("Music", "")},
         {"Firefox", "Music"},
         {{"firefox", "Firefox", "", 1, true}, {"Music", "Music", "", 1, true}}},
        {"a stored program that plays nothing stays, after the playing ones, once",
         {Stream("mpv", "mpv")},
         {"zoom", "zoom"},
         {{"mpv", "mpv", "", 1, false}, {"zoom", "zoom", "", 0, true}}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ListPlayingPrograms(row.streams, row.stored), row.listed) << row.what;
}

} // namespace

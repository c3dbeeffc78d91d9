#pragma once
// Runs of tamsu-record (TAMSU_RECORD_TOOL) as a program, and the check of the recording it names.

#include "AudioAnalysis.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

// The command line of tamsu-record with args.
inline std::vector<std::string> ToolArgs(std::vector<std::string> args)
{
    args.insert(args.begin(), TAMSU_RECORD_TOOL);
    return args;
}

inline Process::Result RunTool(std::vector<std::string> args) { return RunProcess(ToolArgs(std::move(args))); }

// The last line of text.
inline std::string LastLine(const std::string& text)
{
    std::string line = text.substr(0, text.find_last_not_of('\n') + 1);
    return line.erase(0, line.rfind('\n') + 1);
}

// The last line printed must name a 44.1 kHz stereo recording in folder, named as the program
// names recordings; returns its decoded audio.
inline DecodedAudio CheckRecording(const Process::Result& run, const std::string& folder, const std::string& format)
{
    const std::string path = LastLine(run.out);
    EXPECT_EQ(std::filesystem::path(path).parent_path(), std::filesystem::absolute(folder)) << path;
    const std::regex name("新录音-\\d{14}\\." + format);
    EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(), name)) << path;
    DecodedAudio audio;
    std::string error;
    EXPECT_TRUE(DecodeAudioFile(path, audio, &error)) << error;
    EXPECT_EQ(audio.sampleRate, 44100);
    EXPECT_EQ(audio.channels, 2);
    return audio;
}

#pragma once
// Whole files as bytes and little-endian fields in them, for the file and journal tests.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline uint32_t Le32At(const std::string& b, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// Checks that a 16-bit stereo WAV's sizes count exactly its whole sample frames; their number.
inline size_t ExpectWavSizesMatchFile(const std::string& path)
{
    const std::string b = ReadBytes(path);
    const size_t data = b.find("data", 12) + 8;
    EXPECT_EQ((b.size() - data) % 4, 0u) << path;
    EXPECT_EQ(Le32At(b, data - 4), b.size() - data) << path;
    EXPECT_EQ(Le32At(b, 4), b.size() - 8) << path;
    return (b.size() - data) / 4;
}

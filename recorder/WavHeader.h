#pragma once
// WavHeader: where a RIFF/WAVE file keeps its two sizes (RIFF and "data"), found by walking its
// chunks (the muxer writes "LIST"/"INFO" and others before "data", so the data offset varies), and
// the writing of those sizes for a given file length, counting whole sample frames only.
// A plain value; safe from any thread.

#include <cstddef>
#include <cstdint>
#include <optional>

class WavHeader {
public:
    // What the muxer writes into both size fields until the file is finished.
    static constexpr uint32_t kUnknownSize = 0xFFFFFFFF;

    // The layout of the header held in bytes[0, size): nothing when they do not start a RIFF/WAVE
    // whose "fmt " chunk (with a block align > 0) and "data" chunk header lie within them.
    static std::optional<WavHeader> Parse(const uint8_t* bytes, size_t size);

    // Writes the RIFF and data sizes of a file of length bytes into the file at fd (pwrite; the
    // descriptor's offset does not move): whole sample frames only, as many as a RIFF can count.
    // With cutPartialFrame, a trailing partial frame is also cut off the file. False with errno
    // set when a write or the cut failed.
    bool WriteSizes(int fd, uint64_t length, bool cutPartialFrame) const;

    // True when bytes (the file's start, as written) hold a final data size, not kUnknownSize.
    bool SizesFinal(const uint8_t* bytes, size_t size) const;

    // The data bytes a file of length bytes counts (whole frames, at most what fits a RIFF).
    uint64_t CountedData(uint64_t length) const;

    uint64_t DataSizeOffset() const { return dataStart_ - 4; }
    uint64_t DataStart() const { return dataStart_; }
    uint32_t BlockAlign() const { return blockAlign_; }

private:
    WavHeader(uint64_t dataStart, uint32_t blockAlign) : dataStart_(dataStart), blockAlign_(blockAlign) {}

    uint64_t dataStart_;  // first byte of the samples (just after the data chunk's size field)
    uint32_t blockAlign_; // bytes of one sample frame (all channels)
};

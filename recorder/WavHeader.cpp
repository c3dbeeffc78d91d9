#include "WavHeader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Offset of the RIFF chunk's size field (after "RIFF").
constexpr off_t kRiffSizeOffset = 4;
// "RIFF", size, "WAVE": the chunks start after these 12 bytes.
constexpr size_t kFirstChunk = 12;
// A chunk header: four-character id and 32-bit size.
constexpr size_t kChunkHeader = 8;
// Offset of nBlockAlign within the "fmt " chunk's data (after tag, channels, rate, byte rate) and
// the smallest "fmt " chunk that holds it.
constexpr size_t kBlockAlignOffset = 12;
constexpr size_t kMinFmtSize = 16;

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

bool PutLe32(int fd, off_t offset, uint32_t value)
{
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    ssize_t n;
    do {
        n = pwrite(fd, bytes, sizeof bytes, offset);
    } while (n < 0 && errno == EINTR);
    if (n >= 0 && n != static_cast<ssize_t>(sizeof bytes))
        errno = ENOSPC; // four bytes in place only fall short when no block could be had
    return n == static_cast<ssize_t>(sizeof bytes);
}

} // namespace

std::optional<WavHeader> WavHeader::Parse(const uint8_t* bytes, size_t size)
{
    if (size < kFirstChunk || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return std::nullopt;
    uint32_t blockAlign = 0;
    for (uint64_t pos = kFirstChunk; pos + kChunkHeader <= size;) {
        const uint8_t* chunk = bytes + pos;
        const uint32_t chunkSize = Le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            if (blockAlign == 0)
                return std::nullopt;
            return WavHeader(pos + kChunkHeader, blockAlign);
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0 && chunkSize >= kMinFmtSize &&
            pos + kChunkHeader + kMinFmtSize <= size) {
            const uint8_t* align = chunk + kChunkHeader + kBlockAlignOffset;
            blockAlign = uint32_t(align[0]) | uint32_t(align[1]) << 8;
        }
        pos += kChunkHeader + chunkSize + (chunkSize & 1); // chunks are padded to even sizes
    }
    return std::nullopt;
}

bool WavHeader::SizesFinal(const uint8_t* bytes, size_t size) const
{
    return size >= dataStart_ && Le32(bytes + DataSizeOffset()) != kUnknownSize;
}

uint64_t WavHeader::CountedData(uint64_t length) const
{
    // The RIFF size counts everything after its own field: dataStart_ - 8 header bytes plus data.
    const uint64_t room = uint64_t(kUnknownSize) - (dataStart_ - kChunkHeader);
    const uint64_t data = std::min(length > dataStart_ ? length - dataStart_ : 0, room);
    return data - data % blockAlign_;
}

bool WavHeader::WriteSizes(int fd, uint64_t length, bool cutPartialFrame) const
{
    const uint64_t data = CountedData(length);
    const uint64_t end = dataStart_ + data;
    if (!PutLe32(fd, kRiffSizeOffset, static_cast<uint32_t>(end - kChunkHeader)) ||
        !PutLe32(fd, static_cast<off_t>(DataSizeOffset()), static_cast<uint32_t>(data)))
        return false;
    // Only a partial frame is cut; bytes beyond what a RIFF can count stay in the file.
    if (cutPartialFrame && length > end && length - end < blockAlign_)
        return ftruncate(fd, static_cast<off_t>(end)) == 0;
    return true;
}

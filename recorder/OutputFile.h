#pragma once
// OutputFile: the file of one recording, written by FFmpeg's muxer through Io() over a descriptor
// of our own, so that write errors (and their errno) are ours to report, the data can be pushed to
// the disk while recording (Sync) and a WAV header's sizes kept up to date as the file grows: a
// process killed mid-recording leaves a file that plays up to its last Sync.
//
// Use (all on one thread, the one that drives the muxer):
//   Create(path); ctx->pb = Io(); ctx->flags |= AVFMT_FLAG_CUSTOM_IO; avformat_write_header;
//   MarkWavDataStart() for a WAV; write packets, Sync() about once a second (stop recording when
//   it returns false); av_write_trailer; Close(); then free the format context or the file in
//   either order. The AVIOContext stays valid until the destructor: writes after Close() fail
//   (EBADF) instead of touching freed memory. The format context must not close or free pb itself
//   (avio_closep on it would be wrong; ff::OutputDeleter leaves a custom pb alone).
//
// Thread-safety: none; every call, and the muxer's writes through Io(), from the same thread.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WavHeader.h"

struct AVIOContext;

class OutputFile {
public:
    enum class Error { kNone, kDiskFull, kWriteFailed }; // kDiskFull for ENOSPC and EDQUOT

    OutputFile();
    ~OutputFile(); // closes like Close(); failures are only logged
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates (or truncates) path, 0644, and the AVIOContext over it. Logs and returns false on
    // failure, or when this object already has a file open.
    bool Create(const std::string& path);
    // The context for AVFormatContext::pb (the caller sets AVFMT_FLAG_CUSTOM_IO); null before Create.
    AVIOContext* Io();
    // Right after avformat_write_header of a WAV: finds, in what the muxer wrote, the header's size
    // fields, so that Sync() keeps them up to date. Logs a warning when there is no WAV header.
    void MarkWavDataStart();
    // Hands what the muxer wrote to the kernel and the disk (avio_flush, fdatasync); for a marked
    // WAV first writes the RIFF and data sizes of what reached the file (whole sample frames). Also
    // notices a file removed while being written. False on any failure, now or earlier (GetError()
    // says which). Call between avformat_write_header and av_write_trailer only.
    bool Sync();
    // The first failure seen: of the muxer's writes, Sync() or Close().
    Error GetError() const { return error_; }
    // Flushes, syncs and closes. A WAV whose header the muxer did not finish (a write failed, or no
    // trailer was written) gets its sizes from what reached the file, a trailing partial sample
    // frame cut off. False (GetError() says why) when a write, the sync or the close failed.
    bool Close();
    const std::string& Path() const { return path_; }

private:
    struct IoDeleter {
        void operator()(AVIOContext* io) const;
    };

    static int WritePacket(void* opaque, uint8_t* buf, int size);
    static int64_t SeekPacket(void* opaque, int64_t offset, int whence);
    int Write(const uint8_t* buf, int size);
    int64_t Seek(int64_t offset, int whence);
    void SyncToDisk();
    // Keeps the first failure (and logs it); err is an errno value.
    void Fail(int err, const char* what);

    std::string path_;
    int fd_ = -1;
    std::unique_ptr<AVIOContext, IoDeleter> io_;
    int64_t pos_ = 0;           // where the muxer's next write lands
    int64_t end_ = 0;           // the file's length: end of what reached it
    std::vector<uint8_t> head_; // the muxer's bytes at the start of the file, for the WAV layout
    std::optional<WavHeader> wav_;
    Error error_ = Error::kNone;
};

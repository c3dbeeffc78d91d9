#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glog/logging.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Size of the muxer's write buffer: filled in half a second at the lowest bit rate (64 kbit/s MP3
// = 8000 bytes/s), so output reaches the kernel even between two Sync() calls.
constexpr int kIoBufferSize = 4096;
// How much of the file's start is kept to find the WAV layout in (the header with its LIST/INFO
// chunk is well under 1 KiB).
constexpr int64_t kHeadCapture = 4096;

} // namespace

void OutputFile::IoDeleter::operator()(AVIOContext* io) const
{
    av_freep(&io->buffer);
    avio_context_free(&io);
}

OutputFile::OutputFile() = default;

OutputFile::~OutputFile()
{
    Close();
}

bool OutputFile::Create(const std::string& path)
{
    if (fd_ >= 0) {
        LOG(ERROR) << "output file " << path_ << " is still open; cannot create " << path;
        return false;
    }
    path_ = path;
    pos_ = end_ = 0;
    head_.clear();
    head_.reserve(kHeadCapture); // the write callback must not allocate (nothing may throw there)
    wav_.reset();
    error_ = Error::kNone;
    io_.reset();

    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        LOG(ERROR) << "cannot create output file " << path << ": " << std::strerror(errno);
        return false;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
    AVIOContext* io =
        buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &WritePacket, &SeekPacket) : nullptr;
    if (!io) {
        av_free(buffer);
        LOG(ERROR) << "out of memory for the output of " << path;
        close(fd_);
        fd_ = -1;
        return false;
    }
    io_.reset(io);
    return true;
}

AVIOContext* OutputFile::Io()
{
    return io_.get();
}

void OutputFile::MarkWavDataStart()
{
    if (!io_)
        return;
    avio_flush(io_.get()); // the header may still sit in the buffer
    wav_ = WavHeader::Parse(head_.data(), head_.size());
    if (!wav_)
        LOG(WARNING) << "no WAV header found in " << path_ << "; its sizes are left to the muxer";
}

bool OutputFile::Sync()
{
    if (fd_ < 0) {
        Fail(EBADF, "sync after close");
        return false;
    }
    avio_flush(io_.get());
    if (wav_ && !wav_->WriteSizes(fd_, static_cast<uint64_t>(end_), false))
        Fail(errno, "header update failed");
    SyncToDisk();
    struct stat st{};
    if (fstat(fd_, &st) == 0 && st.st_nlink == 0)
        Fail(ENOENT, "removed while recording"); // writes go nowhere a user can find
    return error_ == Error::kNone;
}

bool OutputFile::Close()
{
    if (fd_ < 0)
        return error_ == Error::kNone;
    avio_flush(io_.get());
    // The muxer's trailer finishes a WAV header; after a failed write (or without a trailer) the
    // sizes of what reached the file are written here.
    const bool headerOpen = wav_ && !wav_->SizesFinal(head_.data(), head_.size());
    if (headerOpen && !wav_->WriteSizes(fd_, static_cast<uint64_t>(end_), true))
        Fail(errno, "header update failed");
    SyncToDisk();
    if (close(fd_) != 0)
        Fail(errno, "close failed");
    fd_ = -1;
    return error_ == Error::kNone;
}

void OutputFile::SyncToDisk()
{
    // EINVAL: the file cannot be synchronised (a device); its data went wherever writes go.
    if (fdatasync(fd_) != 0 && errno != EINVAL)
        Fail(errno, "fdatasync failed");
}

void OutputFile::Fail(int err, const char* what)
{
    if (error_ != Error::kNone)
        return; // the first failure is the one that counts; later ones follow from it
    error_ = (err == ENOSPC || err == EDQUOT) ? Error::kDiskFull : Error::kWriteFailed;
    LOG(ERROR) << "output file " << path_ << ": " << what << ": " << std::strerror(err);
}

int OutputFile::WritePacket(void* opaque, uint8_t* buf, int size)
{
    return static_cast<OutputFile*>(opaque)->Write(buf, size);
}

int64_t OutputFile::SeekPacket(void* opaque, int64_t offset, int whence)
{
    return static_cast<OutputFile*>(opaque)->Seek(offset, whence);
}

int OutputFile::Write(const uint8_t* buf, int size)
{
    if (fd_ < 0) {
        Fail(EBADF, "write after close");
        return AVERROR(EBADF);
    }
    for (int done = 0; done < size;) {
        const ssize_t n = pwrite(fd_, buf + done, static_cast<size_t>(size - done), pos_);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            const int err = n < 0 ? errno : EIO;
            Fail(err, "write failed");
            return AVERROR(err);
        }
        // Keep what landed at the start of the file; end_ counts only bytes that reached it, so a
        // short write leaves no unwritten byte counted.
        if (pos_ < kHeadCapture) {
            const int64_t kept = std::min<int64_t>(n, kHeadCapture - pos_);
            if (head_.size() < static_cast<size_t>(pos_ + kept))
                head_.resize(static_cast<size_t>(pos_ + kept));
            std::memcpy(head_.data() + pos_, buf + done, static_cast<size_t>(kept));
        }
        pos_ += n;
        end_ = std::max(end_, pos_);
        done += static_cast<int>(n);
    }
    return size;
}

int64_t OutputFile::Seek(int64_t offset, int whence)
{
    int64_t to;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return end_;
    case SEEK_SET:
        to = offset;
        break;
    case SEEK_CUR:
        to = pos_ + offset;
        break;
    case SEEK_END:
        to = end_ + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (to < 0)
        return AVERROR(EINVAL);
    pos_ = to;
    return pos_;
}

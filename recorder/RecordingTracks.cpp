#include "RecordingTracks.h"

#include <glog/logging.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Appended to the mix's name without its extension to name the folder of its tracks.
constexpr char kFolderSuffix[] = "-分轨";

} // namespace

std::string RecordingTracks::FolderOf(const std::string& mixPath)
{
    const size_t slash = mixPath.rfind('/');
    const size_t dot = mixPath.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? mixPath.substr(0, dot) : mixPath) + kFolderSuffix;
}

bool RecordingTracks::Open(const std::string& mixPath, const std::string& format, int32_t bitRate)
{
    folder_ = FolderOf(mixPath);
    if (::mkdir(folder_.c_str(), 0755) == 0)
        madeFolder_ = true;
    else if (errno != EEXIST) {
        LOG(ERROR) << "cannot create the tracks' folder " << folder_ << ": " << std::strerror(errno);
        return false;
    }
    system_.path = folder_ + "/" + kSystemSoundName + "." + format;
    mic_.path = folder_ + "/" + kMicrophoneName + "." + format;
    for (Track* track : {&system_, &mic_}) {
        if (track->writer.Open(track->path, format, bitRate, false) < 0) {
            LOG(ERROR) << "cannot create the track " << track->path;
            Discard();
            return false;
        }
        track->journal.Begin(track->path, format);
    }
    return true;
}

bool RecordingTracks::Write(AVFrame* system, AVFrame* mic, int count)
{
    return system_.writer.Write(system, nullptr, count) && mic_.writer.Write(mic, nullptr, count);
}

bool RecordingTracks::Sync()
{
    return system_.writer.Sync() && mic_.writer.Sync();
}

bool RecordingTracks::Finish()
{
    bool ok = true;
    for (Track* track : {&system_, &mic_}) {
        ok = track->writer.Finish() && ok;
        track->journal.End();
    }
    return ok;
}

void RecordingTracks::Discard()
{
    Finish();
    for (Track* track : {&system_, &mic_})
        if (!track->path.empty())
            std::remove(track->path.c_str());
    if (madeFolder_)
        ::rmdir(folder_.c_str());
}

OutputFile::Error RecordingTracks::GetError() const
{
    const OutputFile::Error system = system_.writer.GetError();
    return system != OutputFile::Error::kNone ? system : mic_.writer.GetError();
}

#pragma once
// RecordingTracks: the two sources of a mixed recording, each in a file of its own beside the mix,
// for editing them apart: "<mix without extension>-分轨/麦克风.<ext>" (the microphone after its
// voice processing) and ".../系统声音.<ext>" (the system sound). They get the very frames the mix
// is made of, so they are sample-aligned with it and as long as it. Each track has its own writer
// and journal entry: a crash leaves tracks that the next start repairs like the mix, and a write
// failure of a track stops the recording like one of the mix.
//
// Thread-safety: none. Open runs on the owner's thread before the encode thread starts; everything
// else on the encode thread (like RecordingWriter).

#include "RecordingJournal.h"
#include "RecordingWriter.h"

#include <cstdint>
#include <string>

class RecordingTracks {
public:
    static constexpr const char* kMicrophoneName = "麦克风";
    static constexpr const char* kSystemSoundName = "系统声音";

    RecordingTracks() = default;
    RecordingTracks(const RecordingTracks&) = delete;
    RecordingTracks& operator=(const RecordingTracks&) = delete;

    // The folder of the tracks of the recording at mixPath: the path without its extension +
    // "-分轨" (a name without an extension keeps all of it).
    static std::string FolderOf(const std::string& mixPath);

    // Creates the folder (an existing one is used) and both tracks in format, each journaled.
    // False after logging why; then no track file is left behind (the folder only when it was ours).
    bool Open(const std::string& mixPath, const std::string& format, int32_t bitRate);
    // Encodes and writes count samples of each source. False when a track cannot be written
    // (GetError tells why).
    bool Write(AVFrame* system, AVFrame* mic, int count);
    bool Sync();
    // Finishes both files and ends their journal entries. False when a write failed.
    bool Finish();
    // Finishes and removes both files and the folder (a recording that never started).
    void Discard();
    OutputFile::Error GetError() const;

private:
    struct Track {
        std::string path;
        RecordingWriter writer;
        RecordingJournal journal;
    };
    std::string folder_;
    bool madeFolder_ = false;
    Track system_;
    Track mic_;
};

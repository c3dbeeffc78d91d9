#pragma once
// RecordingJournal: while a recording runs, an entry in the per-user folder
// "TamsuAudioRecorder/Journal" names its file, so that a file left unfinished by a crash or a kill
// is found and repaired at the next start of either program (both may record at the same time).
// One entry file per recording, written atomically, holding the output path (bytes as given), the
// format and the owning process (pid and its start time, so a reused pid is not taken for the
// owner and a live owner's entry is never touched).
//
// Thread-safety: one object belongs to one recording and is used from one thread; different
// objects (and RecoverUnfinishedRecordings) may be used from any threads and processes at once.

#include <string>
#include <vector>

class RecordingJournal {
public:
    RecordingJournal() = default;
    // Does not remove the entry: an object going away says nothing about the file; End() does.
    ~RecordingJournal() = default;
    RecordingJournal(const RecordingJournal&) = delete;
    RecordingJournal& operator=(const RecordingJournal&) = delete;

    // Writes the entry for the recording into path in format ("mp3"/"wav"). False (logged) when it
    // could not be written; the recording goes on regardless. A second Begin ends the first entry.
    bool Begin(const std::string& path, const std::string& format);
    // The file is complete: removes the entry (nothing to do when Begin failed).
    void End();

private:
    std::string entry_; // our entry's path; empty when there is none
};

// For the start of either program: every entry whose owner process is gone is handled (a WAV
// repaired with RepairWavFile, an MP3 kept as it is), then removed; corrupt entries are logged and
// removed. Each recovered file is logged at INFO ("recovered unfinished recording: " + path).
// Returns the recovered files: those that still exist and are not empty (a WAV only when it could
// be repaired). Recoveries of two starting programs take turns. Never throws.
std::vector<std::string> RecoverUnfinishedRecordings();

// Sets the RIFF and data chunk sizes of a WAV from the file's actual length, cutting a trailing
// partial sample frame. True when the file is a valid WAV afterwards; a file that is not a
// RIFF/WAVE (or whose header is cut short) is left untouched and gives false.
bool RepairWavFile(const std::string& path);

#pragma once
// RecordingWriter: the output side of one recording: the encoder (MP3 or 16-bit PCM), the mixing
// graph of a mixed recording ("in0" system sound, "in1" microphone -> amix -> "out"), the
// container and its file (OutputFile).
//
// Thread-safety: none. Open runs on the owner's thread before the encode thread starts; everything
// else on the encode thread.

#include "FFmpegPtr.h"
#include "OutputFile.h"

#include <cstdint>
#include <functional>
#include <string>

class RecordingWriter {
public:
    RecordingWriter();
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Sets up the encoder for format ("mp3" or "wav"), creates path and writes the header; with
    // mixed, also the mixing graph. 0, or kFailed / kGraphFailed after logging why (no file is
    // left behind then).
    int Open(const std::string& path, const std::string& format, int32_t bitRate, bool mixed);

    int FrameSize() const { return frameSize_; }   // 1152 for MP3, 1024 for WAV
    int SampleFormat() const { return sampleFormat_; } // fltp for MP3, s16 for WAV
    int SampleRate() const { return kSampleRate; }

    // Encodes and writes one frame: system (mixed with mic when the graph exists; mic may be null
    // otherwise), each with count samples (count < FrameSize() only for the last frame). False
    // when the recording cannot go on (graph failure or write failure; GetError() tells the
    // latter).
    bool Write(AVFrame* system, AVFrame* mic, int count);
    // Pushes what was written to the disk (and brings a WAV's header sizes up to date). False on a
    // write failure.
    bool Sync();
    // Flushes the encoder, writes the trailer, closes the file. False when a write failed.
    bool Finish();
    OutputFile::Error GetError() const { return file_.GetError(); }

    // Called with the whole seconds of audio written whenever they change.
    std::function<void(int64_t)> onSeconds;

    static constexpr int kSampleRate = 44100;
    static constexpr int kFailed = -1;
    static constexpr int kGraphFailed = -2;

private:
    int BuildMixGraph();
    bool EncodeFrame(AVFrame* frame);
    bool Drain();

    std::string path_;
    OutputFile file_;
    ff::OutputPtr output_;
    ff::CodecContextPtr encoder_;
    AVStream* stream_ = nullptr;
    ff::FilterGraphPtr graph_;
    AVFilterContext* in0_ = nullptr; // system sound
    AVFilterContext* in1_ = nullptr; // microphone
    AVFilterContext* out_ = nullptr;
    ff::FramePtr mixed_;
    ff::PacketPtr packet_;
    int frameSize_ = 1024;
    int sampleFormat_ = 0;
    bool wav_ = false;
    int64_t runningPts_ = 0;   // presentation time of the next packet (1 / 44100)
    int64_t framesSent_ = 0;   // samples handed to the encoder
    int64_t lastSecond_ = 0;
    bool opened_ = false;   // the header is written: the file needs finishing
    bool failed_ = false;
    bool finished_ = false;
};

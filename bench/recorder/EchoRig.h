#pragma once
// EchoRig: loudspeakers that the microphone hears, on the private sound server. What "speaker"
// plays reaches "mic-feed" (heard on "mic") again through a module-loopback from
// "speaker.monitor", latencyMs later and 6 dB weaker: the echo a laptop's microphone picks up from
// its speakers. Start again with another latency to change the echo path during a recording.
// Both null sinks run on the server's one clock, as a laptop's speakers and microphone share their
// sound card's: the loopback's rate control is off, so the path stays where it was put. With it on
// (drifting), PulseAudio's loopback keeps re-steering its rate and the path walks by about
// 40-55 ppm, as between a USB microphone and built-in speakers (PipeWire's loopback holds still
// either way).
//
// Called from the benchmark's thread; every pactl call is bounded in time.

class EchoRig {
public:
    // The echo's strength against what "speaker" plays, in dB.
    static constexpr double kEchoDb = -6;

    EchoRig() = default;
    ~EchoRig() { Stop(); }
    EchoRig(const EchoRig&) = delete;
    EchoRig& operator=(const EchoRig&) = delete;

    // Loads the loopback (after unloading the one loaded before); false when the server refused.
    bool Start(int latencyMs, bool drifting = false);
    void Stop();

private:
    int module_ = -1;
};

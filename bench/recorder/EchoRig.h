#pragma once
// EchoRig: loudspeakers that the microphone hears, on the private sound server. What "speaker"
// plays reaches "mic-feed" (heard on "mic") again through a module-loopback from
// "speaker.monitor", latencyMs later and 6 dB weaker: the echo a laptop's microphone picks up from
// its speakers. Start again with another latency to change the echo path during a recording.
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
    bool Start(int latencyMs);
    void Stop();

private:
    int module_ = -1;
};

#pragma once
// PulseContext: the process's one connection to the sound server (a libpulse threaded main loop
// and its context), shared by capture streams, device discovery, volume and level meters.
//
// - Created on first use (Instance()); connects in the background and never spawns a server.
// - When the server goes away (restart, crash), the context is dropped and a new one is tried
//   every kReconnectInterval until the server answers again. Generation() grows with every new
//   ready context, so a user of pa objects (a record stream) knows it must create them anew.
// - A cached picture of the server (defaults, sinks, sources, other programs' playback streams) is kept fresh by the server's
//   change events; Snapshot() returns it without waiting, Refresh() asks the server again with a
//   short bound (a local server answers in about a millisecond).
// - Listeners hear about every change of the picture or of the connection, on the main loop
//   thread with the loop lock held: they must only note the change (set a flag, signal a
//   condition, move up a timer of the loop) and return. A call comes in the loop iteration after
//   the change; changes close together may come as one call.
// - A server that leaves a request unanswered for kRequestTimeout counts as not answering: Refresh
//   and the volume calls answer at once without waiting on it (Refresh with connected false),
//   until it answers again (a probe stays out). Its context stays, and with it the cached picture,
//   Context(), Generation() and streams: a server that is only slow costs no stream.
//
// Thread-safety: every public method may be called from any thread except the main loop thread,
// unless it says otherwise (Snapshot and Generation may also be called there). Objects of
// libpulse (streams, operations) created through Context() must be used under Lock and belong to
// the generation they were created in.

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Which side of the server a device is on: sources capture, sinks render.
enum class PulseDirection { kCapture, kRender };

// One source or sink as the server describes it.
struct PulseDevice {
    uint32_t index = PA_INVALID_INDEX;
    std::string name;          // the server's name, e.g. "mic"
    std::string description;   // the human-readable name, e.g. "Virtual Microphone"
    bool isMonitor = false;    // a source that is the monitor of a sink
    std::string monitorSource; // for a sink: the name of its monitor source
    bool headphones = false;   // for a sink: its active port is headphones or a headset
    pa_cvolume volume{};
    bool mute = false;
    uint32_t rate = 0;
    uint8_t channels = 0;
};

// One playback stream of a program (a sink input) as the server describes it.
struct PulseSinkInput {
    uint32_t index = PA_INVALID_INDEX;
    uint32_t sink = PA_INVALID_INDEX; // the sink it plays on
    std::string appName;  // application.name (empty when the program gave none)
    std::string binary;   // application.process.binary
    std::string iconName; // application.icon_name
    uint32_t rate = 0;
    uint8_t channels = 0;

    // The name a program is chosen by: its binary (stays across restarts), else its
    // application.name, else empty (a program without a name cannot be chosen).
    const std::string& ProgramKey() const { return binary.empty() ? appName : binary; }
};

// What the server looked like when last asked.
struct PulseServerState {
    bool connected = false;     // a context is ready and this picture comes from it (Refresh: and it answered)
    uint64_t generation = 0;    // Generation() at the time of the picture
    std::string defaultSink;    // empty when the server has none
    std::string defaultSource;  // empty when the server has none (may name a monitor)
    std::string serverName;     // "pulseaudio", or "PulseAudio (on PipeWire 0.3.65)" from pipewire-pulse
    std::vector<PulseDevice> sinks;   // in the server's index order
    std::vector<PulseDevice> sources; // in the server's index order, monitors included
    std::vector<PulseSinkInput> sinkInputs; // other programs' playback streams (ours left out)

    // The server is pipewire-pulse: PipeWire's own interface reaches the same streams.
    bool OnPipeWire() const { return serverName.find("PipeWire") != std::string::npos; }
    // The device of that name in the picture, or nullptr.
    const PulseDevice* Find(PulseDirection direction, const std::string& name) const;
};

class PulseContext {
public:
    // Client name the server shows for our connection.
    static constexpr const char* kClientName = "TamsuAudioRecorder";
    // How often a lost server is tried again.
    static constexpr std::chrono::milliseconds kReconnectInterval{500};
    // Bound of Refresh() and of the volume calls: a local server answers in about a millisecond;
    // this only guards against a hung one.
    static constexpr std::chrono::milliseconds kRequestTimeout{250};

    // The process's instance; the first call starts the main loop and the first connection
    // attempt and waits (up to kFirstConnectWait) for the first picture, so that the very first
    // question of a program is answered from a complete picture.
    static PulseContext& Instance();
    static constexpr std::chrono::milliseconds kFirstConnectWait{1000};

    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // The cached picture, without waiting on the server.
    PulseServerState Snapshot() const;
    // Asks the server for the defaults, sinks, sources and playback streams again (bounded by kRequestTimeout) and
    // returns the new picture; on time-out, from a server that does not answer, or without a
    // server, the cached one with connected false (without a server its lists are empty too).
    PulseServerState Refresh();

    // Sets every channel of the device to volume / mute; true when the server confirmed it within
    // kRequestTimeout.
    bool SetVolume(PulseDirection direction, uint32_t index, uint8_t channels, pa_volume_t volume);
    bool SetMute(PulseDirection direction, uint32_t index, bool mute);

    // Number of the current ready context (0 before the first one); grows at every reconnect.
    uint64_t Generation() const;

    // Listener of changes (new picture, connection lost or back). Called on the main loop thread
    // with the lock held. Returns an id for RemoveListener, which waits until a running call of
    // that listener has returned (not callable from the main loop thread).
    int AddListener(std::function<void()> listener);
    void RemoveListener(int id);

    // The loop lock, for creating and using libpulse objects on Context(). Not recursive; never
    // taken on the main loop thread (callbacks already hold it).
    class Lock {
    public:
        explicit Lock(PulseContext& pulse);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        PulseContext& pulse_;
    };
    // Under Lock: the current context when it is ready, else nullptr.
    pa_context* Context() const;
    // Under Lock: the threaded main loop (for pa_threaded_mainloop_wait/signal).
    pa_threaded_mainloop* Loop() const;

private:
    PulseContext();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

#pragma once
// PulseConnection: one short-lived connection to the sound server (libpulse main loop + context),
// with typed requests for what device discovery and volume control need.
//
// Every wait is bounded: connecting gives up after kConnectTimeout, each request after
// kRequestTimeout, so a missing or hung server makes the caller answer "none" instead of hanging.
// The server is never spawned. One object belongs to one thread; objects on different threads
// share nothing, so any thread may make its own.

#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/volume.h>

#include <chrono>
#include <cstdint>
#include <memory>
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
    pa_cvolume volume{};
    bool mute = false;
    uint32_t rate = 0;
    uint8_t channels = 0;
};

// Why listing the devices failed.
enum class PulseListResult {
    kOk,
    kNotStarted, // the request could not be sent
    kIncomplete, // the request was sent but the list did not arrive complete in time
};

class PulseConnection {
public:
    // A failed connection is not an error here: check Connected().
    PulseConnection();
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Client name the server shows for our connections.
    static constexpr const char* kClientName = "TamsuAudioRecorder";
    // Local servers answer in milliseconds; one second only guards against a hung one.
    static constexpr std::chrono::milliseconds kConnectTimeout{1000};
    static constexpr std::chrono::milliseconds kRequestTimeout{1000};

    bool Connected() const { return connected_; }

    // Names of the default sink and source; empty when the server has none. False when the
    // server did not answer.
    bool GetDefaultNames(std::string& sink, std::string& source);
    // Every source (kCapture) or sink (kRender) in the server's index order.
    PulseListResult ListDevices(PulseDirection direction, std::vector<PulseDevice>& devices);
    // The device of that name; false when there is none or the server did not answer.
    bool GetDevice(PulseDirection direction, const std::string& name, PulseDevice& device);
    // Sets every channel of the device to volume; true when the server confirmed it.
    bool SetVolume(PulseDirection direction, uint32_t index, uint8_t channels, pa_volume_t volume);
    bool SetMute(PulseDirection direction, uint32_t index, bool mute);

private:
    struct MainloopDeleter { void operator()(pa_mainloop* m) const; };
    struct ContextDeleter { void operator()(pa_context* c) const; };
    struct OperationDeleter { void operator()(pa_operation* o) const; };
    using Clock = std::chrono::steady_clock;
    using OperationPtr = std::unique_ptr<pa_operation, OperationDeleter>;

    // Runs the main loop until done() holds or the deadline passes; false on timeout or loop error.
    template <typename Done> bool RunUntil(Done done, Clock::time_point deadline);
    // Waits for a request to finish (cancels it on timeout); false when it did not finish.
    bool Wait(OperationPtr op);

    // Destroyed in reverse order: the context before its main loop.
    std::unique_ptr<pa_mainloop, MainloopDeleter> mainloop_;
    std::unique_ptr<pa_context, ContextDeleter> context_;
    bool connected_ = false;
};

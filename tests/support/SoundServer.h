#pragma once
// SoundServer: control of the private sound server that scripts/sound-server.sh starts (the one
// PULSE_SERVER names), through pactl. Its standard layout: null sink "speaker" (default sink),
// null sink "mic-feed", and source "mic" ("Virtual Microphone", default source), a remap of
// "mic-feed"'s monitor.
//
// A test that changes the layout puts it back with Reset() (also when it fails: call it from
// TearDown). Called from the test's thread; every pactl call is bounded in time.

#include <optional>
#include <string>
#include <utility>
#include <vector>

class SoundServer {
public:
    // PULSE_SERVER is set and the server answers.
    static bool Available();

    // Runs pactl with args against the private server; its exit code (-1 when it could not run or
    // took too long). *output receives what it printed on standard output.
    static int Pactl(const std::vector<std::string>& args, std::string* output = nullptr);

    // Index and name of each line of "pactl list short <kind>" (kind: "sinks", "sources",
    // "modules"); nothing when pactl fails.
    using Listing = std::vector<std::pair<int, std::string>>;
    static std::optional<Listing> List(const std::string& kind);

    // Loads a module; its index once the program's connection lists every device the server has,
    // or -1 on failure.
    static int LoadModule(const std::string& module, const std::vector<std::string>& args);

    // Puts back the standard layout (every volume 100 %, nothing muted), with "mic-feed" and so
    // "mic" at micFeedRate Hz. Modules loaded by tests are removed.
    static bool Reset(int micFeedRate = 44100);
    // Loads "mic" (the remap of "mic-feed"'s monitor) and makes it the default source, as a
    // microphone plugged in again; "mic-feed" must be there.
    static bool PlugMicrophone();
    // Waits (up to 5 s) until the program's connection to the server names sink and source as its
    // defaults.
    static bool WaitForDefaults(const std::string& sink, const std::string& source);
    // Removes every sink and every capture device: the server then has no default sink and no
    // default source.
    static bool RemoveAllDevices();

    // Stops the server and starts it again in the same folder (same socket and layout), as a
    // desktop's sound server restarts: every client loses its connection and may come back.
    // Restartable() is false for a server scripts/sound-server.sh did not start; Restart() is
    // false then and when the server did not come back.
    static bool Restartable();
    static bool Restart();

    // "key=value" module argument for a device description, quoted for the server's parser.
    static std::string DescriptionArg(const std::string& key, const std::string& description);
};

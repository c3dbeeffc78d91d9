#include "SoundServer.h"

#include "Process.h"
#include "PulseContext.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <utility>

namespace {

// pactl answers a local server in milliseconds; this only ends a hung call.
constexpr std::chrono::seconds kPactlLimit{10};
// How long the program's connection may take to see a layout change: 5 s in steps of 20 ms
// (a local server takes it up within a few milliseconds).
constexpr int kWaitTries = 250;
constexpr std::chrono::milliseconds kWaitStep{20};
// The module that carries our own connection: never unloaded.
constexpr const char* kProtocolModule = "module-native-protocol-unix";
// Name prefix of the sound server's modules. pipewire-pulse also lists PipeWire's own modules
// ("libpipewire-module-..."), which are the server itself and cannot be unloaded.
constexpr const char* kServerModulePrefix = "module-";

// The build folder and kind ("" or "--pipewire") of the scripts/sound-server.sh server whose
// environment this process has: its client configuration lies in <build>/pulse (beside
// "server.pa") or <build>/pipewire. Empty build folder when it is neither.
std::pair<std::filesystem::path, std::string> ScriptServer()
{
    const char* config = std::getenv("PULSE_CLIENTCONFIG");
    const std::filesystem::path dir = std::filesystem::path(config ? config : "").parent_path();
    if (dir.filename() == "pulse" && std::filesystem::exists(dir / "server.pa"))
        return {dir.parent_path(), ""};
    if (dir.filename() == "pipewire" && std::filesystem::exists(dir / "config/pipewire/pipewire-pulse.conf"))
        return {dir.parent_path(), "--pipewire"};
    return {};
}

// Waits (up to 5 s) until the program's connection lists every sink and source the server has.
bool WaitForDevices()
{
    // PipeWire answers each client from its own copy of the graph, which takes up a new node a
    // moment after pactl returns.
    std::vector<std::string> names;
    for (const char* kind : {"sinks", "sources"})
        for (const auto& [index, name] : SoundServer::List(kind).value_or(SoundServer::Listing{}))
            names.push_back(name);
    for (int i = 0; i < kWaitTries; ++i) {
        const PulseServerState state = PulseContext::Instance().Refresh();
        if (state.connected && std::all_of(names.begin(), names.end(), [&](const std::string& name) {
                return state.Find(PulseDirection::kRender, name) || state.Find(PulseDirection::kCapture, name);
            }))
            return true;
        std::this_thread::sleep_for(kWaitStep);
    }
    return false;
}

} // namespace

bool SoundServer::Restartable() { return !ScriptServer().first.empty(); }

bool SoundServer::Restart()
{
    const auto [build, kind] = ScriptServer();
    if (build.empty())
        return false;
    // The server it starts keeps its standard streams: /dev/null, not our pipes.
    return RunProcess({"sh", "-c", "exec \"$0\" start \"$1\" $2 >/dev/null 2>&1", TAMSU_SOUND_SERVER_SCRIPT,
                          build.string(), kind}).code == 0
        && Available();
}

bool SoundServer::Available()
{
    const char* server = std::getenv("PULSE_SERVER");
    return server && *server && Pactl({"info"}) == 0;
}

int SoundServer::Pactl(const std::vector<std::string>& args, std::string* output)
{
    std::vector<std::string> command{"pactl"};
    command.insert(command.end(), args.begin(), args.end());
    Process::Result result = RunProcess(command, kPactlLimit);
    if (output)
        *output = std::move(result.out);
    return result.code;
}

std::optional<SoundServer::Listing> SoundServer::List(const std::string& kind)
{
    std::string text;
    if (Pactl({"list", "short", kind}, &text) != 0)
        return std::nullopt;
    Listing items;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (std::pair<int, std::string> item; std::istringstream(line) >> item.first >> item.second)
            items.push_back(std::move(item));
    return items;
}

int SoundServer::LoadModule(const std::string& module, const std::vector<std::string>& args)
{
    std::vector<std::string> command{"load-module", module};
    command.insert(command.end(), args.begin(), args.end());
    std::string out; // the new module's index
    return Pactl(command, &out) == 0 && !out.empty() && WaitForDevices() ? std::atoi(out.c_str()) : -1;
}

bool SoundServer::RemoveAllDevices()
{
    std::optional<Listing> modules = List("modules");
    if (!modules)
        return false;
    // Newest first: a remap goes before the device it was made from (which would take it along).
    std::sort(modules->rbegin(), modules->rend());
    for (const auto& [index, name] : *modules)
        if (name.rfind(kServerModulePrefix, 0) == 0 && name != kProtocolModule)
            Pactl({"unload-module", std::to_string(index)}); // may already be gone with its master device
    const auto sinks = List("sinks"), sources = List("sources");
    return sinks && sinks->empty() && sources && sources->empty();
}

bool SoundServer::Reset(int micFeedRate)
{
    // The layout scripts/sound-server.sh starts with.
    return RemoveAllDevices()
        && LoadModule("module-null-sink",
               {"sink_name=speaker", "rate=44100", "channels=2", DescriptionArg("sink_properties", "Speaker")}) >= 0
        && LoadModule("module-null-sink",
               {"sink_name=mic-feed", "rate=" + std::to_string(micFeedRate), "channels=2",
                   DescriptionArg("sink_properties", "Microphone feed")}) >= 0
        && PlugMicrophone() && Pactl({"set-default-sink", "speaker"}) == 0 && WaitForDefaults("speaker", "mic");
}

bool SoundServer::WaitForDefaults(const std::string& sink, const std::string& source)
{
    // Asks through the program's own connection, which is what the tests judge. PipeWire 0.3.65
    // answers each client from its own copy of the graph and keeps a client's default as a node id:
    // when the default device is made anew under the same name (as Reset does), a client connected
    // before keeps the old id until the default changes, while a new client (pactl) sees the new
    // node. A default set to another device and back brings every client up to date.
    constexpr int kNudgeEvery = 25; // half a second of a stale view
    for (int i = 1; i <= kWaitTries; ++i) {
        PulseServerState state = PulseContext::Instance().Refresh();
        if (state.connected && state.defaultSink == sink && state.defaultSource == source)
            return true;
        if (i % kNudgeEvery == 0) {
            for (const auto& [kind, name] : {std::pair<std::string, std::string>{"sink", sink}, {"source", source}}) {
                std::string other; // another device of the kind, if there is one
                for (const auto& [index, listed] : List(kind + "s").value_or(Listing{}))
                    other = listed != name ? listed : other;
                if (!other.empty() && other != name)
                    Pactl({"set-default-" + kind, other});
                Pactl({"set-default-" + kind, name});
            }
        }
        std::this_thread::sleep_for(kWaitStep);
    }
    return false;
}

bool SoundServer::PlugMicrophone()
{
    return LoadModule("module-remap-source",
               {"master=mic-feed.monitor", "source_name=mic", DescriptionArg("source_properties", "Virtual Microphone")})
        >= 0
        && Pactl({"set-default-source", "mic"}) == 0;
}

std::string SoundServer::DescriptionArg(const std::string& key, const std::string& description)
{
    return key + "='device.description=\"" + description + "\"'";
}

#include "EchoRig.h"

#include "SoundServer.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

bool EchoRig::Start(int latencyMs, bool drifting)
{
    Stop();
    std::vector<std::string> args = {"source=speaker.monitor", "sink=mic-feed",
                                     "latency_msec=" + std::to_string(latencyMs), "source_dont_move=true",
                                     "sink_dont_move=true"};
    if (!drifting)
        args.push_back("adjust_time=0");
    module_ = SoundServer::LoadModule("module-loopback", args);
    if (module_ < 0)
        return false;
    // The loopback's playback stream: the sink input the module owns.
    std::string list;
    if (SoundServer::Pactl({"list", "sink-inputs"}, &list) != 0)
        return false;
    std::istringstream in(list);
    std::string line, input;
    for (std::string current; std::getline(in, line);) {
        if (line.rfind("Sink Input #", 0) == 0)
            current = line.substr(12);
        else if (line.find("Owner Module: " + std::to_string(module_)) != std::string::npos &&
                 line.substr(line.find(':') + 2) == std::to_string(module_))
            input = current;
    }
    // As a linear factor ("-6dB" would read as an option, or as a change of the current volume).
    char factor[16];
    std::snprintf(factor, sizeof factor, "%.4f", std::pow(10.0, kEchoDb / 20));
    return !input.empty() && SoundServer::Pactl({"set-sink-input-volume", input, factor}) == 0;
}

void EchoRig::Stop()
{
    if (module_ >= 0)
        SoundServer::Pactl({"unload-module", std::to_string(module_)});
    module_ = -1;
}

#include "PlayingPrograms.h"

#include <algorithm>

std::vector<PlayingProgram> ListPlayingPrograms(const std::vector<PulseSinkInput>& streams,
                                                const std::vector<std::string>& stored)
{
    std::vector<PlayingProgram> programs;
    std::vector<std::string> appNames; // beside programs: the application.name a stored name may be
    for (const PulseSinkInput& stream : streams) {
        const std::string& key = stream.ProgramKey();
        if (key.empty())
            continue; // nothing to store it by
        auto it = std::find_if(programs.begin(), programs.end(), [&](const PlayingProgram& p) { return p.key == key; });
        if (it == programs.end()) {
            programs.push_back({key, stream.appName.empty() ? key : stream.appName, stream.iconName, 0, false});
            appNames.push_back(stream.appName);
            it = programs.end() - 1;
        }
        ++it->streams;
        if (it->iconName.empty())
            it->iconName = stream.iconName;
    }
    const size_t playing = programs.size();
    for (const std::string& name : stored) {
        if (name.empty())
            continue;
        bool found = false;
        for (size_t i = 0; i < programs.size(); ++i) {
            const bool matches = programs[i].key == name || (i < playing && !appNames[i].empty() && appNames[i] == name);
            if (matches) {
                programs[i].chosen = true;
                found = true;
            }
        }
        if (!found)
            programs.push_back({name, name, {}, 0, true});
    }
    return programs;
}

#include "RecordOptions.h"

#include "RecordingPlan.h"
#include "RecordingSchedule.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

bool ParseInteger(const std::string& text, int64_t min, int64_t max, int64_t& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && value >= min && value <= max;
}

bool ParseDecimal(const std::string& text, double min, double max, double& value)
{
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value) && value >= min && value <= max;
}

} // namespace

bool ParseRecordOptions(const std::vector<std::string>& args, RecordOptions& options, std::string& error)
{
    options = RecordOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        // The value of an option that takes one: after "=" or the next argument.
        auto value = [&](std::string& out) -> bool {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto noValue = [&]() -> bool {
            if (inlineValue)
                error = name + " takes no value";
            return !inlineValue;
        };

        std::string text;
        int64_t number = 0;
        if (name == "--help" || name == "-h") {
            if (!noValue())
                return false;
            options.help = true;
        } else if (name == "--silent") {
            if (!noValue())
                return false;
            options.silent = true;
        } else if (name == "--split-tracks") {
            if (!noValue())
                return false;
            options.splitTracks = true;
        } else if (name == "--voice-activated") {
            if (!noValue())
                return false;
            options.voiceActivated = true;
        } else if (name == "--threshold" || name == "--silence") {
            if (!value(text))
                return false;
            const bool threshold = name == "--threshold";
            double decimal = 0;
            if (!ParseDecimal(text, threshold ? kMinThresholdDb : kMinSilenceSeconds, threshold ? 0 : kMaxSilenceSeconds,
                              decimal)) {
                error = threshold ? "--threshold must be a level in dBFS from -90 to 0, not \"" + text + "\""
                                  : "--silence must be a number of seconds from 0.1 to 600, not \"" + text + "\"";
                return false;
            }
            (threshold ? options.thresholdDb : options.silenceSeconds) = decimal;
        } else if (name == "--list-apps") {
            if (!noValue())
                return false;
            options.listApps = true;
        } else if (name == "--exclude") {
            if (!value(text))
                return false;
            if (text.empty()) {
                error = "--exclude needs a program name";
                return false;
            }
            options.programs.excluded.push_back(text);
        } else if (name == "--source") {
            if (!value(text))
                return false;
            options.programs.only.clear();
            if (text.rfind("app:", 0) == 0 && text.size() > 4) {
                options.source = kSystemSound;
                options.programs.only = text.substr(4);
            } else if (text == "both")
                options.source = kBoth;
            else if (text == "mic")
                options.source = kMicrophone;
            else if (text == "system")
                options.source = kSystemSound;
            else {
                error = "--source must be both, mic, system or app:NAME, not \"" + text + "\"";
                return false;
            }
        } else if (name == "--echo-cancel") {
            if (!value(text))
                return false;
            if (text != "on" && text != "off") {
                error = "--echo-cancel must be on or off, not \"" + text + "\"";
                return false;
            }
            options.echoCancel = text == "on";
        } else if (name == "--format") {
            if (!value(text))
                return false;
            if (text != "mp3" && text != "wav") {
                error = "--format must be mp3 or wav, not \"" + text + "\"";
                return false;
            }
            options.format = text;
        } else if (name == "--bitrate") {
            if (!value(text))
                return false;
            if (!ParseInteger(text, 1, INT32_MAX, number) ||
                std::find(std::begin(kBitRates), std::end(kBitRates), number) == std::end(kBitRates)) {
                error = "--bitrate must be 64000, 96000, 128000, 192000, 256000 or 320000, not \"" + text + "\"";
                return false;
            }
            options.bitRate = static_cast<int32_t>(number);
        } else if (name == "--seconds") {
            if (!value(text))
                return false;
            if (!ParseInteger(text, 1, kMaxSeconds, number)) {
                error = "--seconds must be a whole number from 1 to " + std::to_string(kMaxSeconds) +
                        ", not \"" + text + "\"";
                return false;
            }
            options.seconds = number;
            options.secondsGiven = true;
        } else if (name == "--start-at") {
            if (!value(text))
                return false;
            options.startAt = ParseTimeOfDay(text);
            if (!options.startAt) {
                error = "--start-at must be a time of day HH:MM or HH:MM:SS, not \"" + text + "\"";
                return false;
            }
        } else if (name == "--stop-after") {
            if (!value(text))
                return false;
            double decimal = 0;
            if (!ParseDecimal(text, 0.1, static_cast<double>(kMaxSeconds), decimal)) {
                error = "--stop-after must be a number of seconds from 0.1 to " + std::to_string(kMaxSeconds) +
                        ", not \"" + text + "\"";
                return false;
            }
            options.stopAfterMs = std::llround(decimal * 1000);
        } else if (name == "--stop-at-size") {
            if (!value(text))
                return false;
            if (!ParseInteger(text, 1, kMaxSizeMb, number)) {
                error = "--stop-at-size must be a whole number of MB from 1 to " + std::to_string(kMaxSizeMb) +
                        ", not \"" + text + "\"";
                return false;
            }
            options.stopAtSizeMb = number;
        } else if (name == "--output") {
            if (!value(text))
                return false;
            if (text.empty()) {
                error = "--output needs a folder";
                return false;
            }
            options.output = text;
        } else if (name == "--pause-at" || name == "--resume-at") {
            if (!value(text))
                return false;
            if (!ParseInteger(text, 0, kMaxSeconds, number)) {
                error = name + " must be a whole number of seconds, not \"" + text + "\"";
                return false;
            }
            (name == "--pause-at" ? options.pauseAt : options.resumeAt) = number;
        } else {
            error = "unknown argument \"" + args[i] + "\"";
            return false;
        }
    }
    if (options.help || options.listApps)
        return true;
    if ((options.thresholdDb || options.silenceSeconds) && !options.voiceActivated) {
        error = "--threshold and --silence go with --voice-activated";
        return false;
    }
    if (options.stopAfterMs && options.secondsGiven) {
        error = "--stop-after and --seconds both give the length; give one";
        return false;
    }
    // The length: --stop-after, else --seconds; with only a size to stop at, as long as it takes.
    if (options.stopAfterMs)
        options.seconds = (*options.stopAfterMs + 999) / 1000;
    else if (options.stopAtSizeMb && !options.secondsGiven)
        options.seconds = kMaxSeconds;
    if (!options.stopAfterMs)
        options.stopAfterMs = options.seconds * 1000;
    if (!options.programs.excluded.empty() && (!options.source || *options.source == kMicrophone ||
                                               !options.programs.only.empty())) {
        error = "--exclude needs --source system or both";
        return false;
    }
    if (options.resumeAt && !options.pauseAt) {
        error = "--resume-at needs --pause-at";
        return false;
    }
    if (options.pauseAt && *options.pauseAt >= options.seconds) {
        error = "--pause-at must come before the end of the recording (--seconds)";
        return false;
    }
    if (options.resumeAt && (*options.resumeAt <= *options.pauseAt || *options.resumeAt >= options.seconds)) {
        error = "--resume-at must lie after --pause-at and before the end of the recording (--seconds)";
        return false;
    }
    return true;
}

std::string RecordUsage()
{
    return "Usage: tamsu-record [--source both|mic|system|app:NAME [--exclude NAME]...] [--format mp3|wav]\n"
           "                    [--bitrate BPS] [--seconds N] [--output DIR] [--silent]\n"
           "                    [--pause-at S [--resume-at S]]\n"
           "                    [--voice-activated [--threshold DB] [--silence SECONDS]]\n"
           "                    [--start-at HH:MM[:SS]] [--stop-after SECONDS] [--stop-at-size MB]\n"
           "                    [--echo-cancel on|off] [--split-tracks]\n"
           "       tamsu-record --list-apps\n"
           "\n"
           "Records what the computer plays, what the microphone hears, or both mixed, into an MP3 or\n"
           "WAV file (44100 Hz stereo) named \"新录音-\" + local time (YYYYMMDDhhmmss) + \".\" + format,\n"
           "with the same engine as the TAMSU电脑录音软件 window.\n"
           "\n"
           "Options apply to this run only; the stored settings are never changed. An option left out\n"
           "takes the stored setting.\n"
           "  --source both|mic|system  what to record (stored \"voice-source\")\n"
           "  --source app:NAME         only the sound of the program NAME (its binary or application\n"
           "                            name; stored \"app-source\"); a program that plays nothing yet\n"
           "                            is recorded as silence until it plays; any --source sets the\n"
           "                            program choice of the run (the stored one applies without it)\n"
           "  --exclude NAME            with --source system or both: the system sound without the\n"
           "                            program NAME (repeatable; stored \"app-exclude\")\n"
           "  --list-apps               print the programs playing now, one a line: name, binary,\n"
           "                            number of streams (tab-separated)\n"
           "  --format mp3|wav          file format (stored \"audio-format\")\n"
           "  --bitrate BPS             MP3 bit rate: 64000, 96000, 128000, 192000, 256000 or 320000\n"
           "                            (stored \"voice-bitrate-index\")\n"
           "  --seconds N               stop N seconds after the start, wall clock (default 10)\n"
           "  --start-at HH:MM[:SS]     start at that local time (today, else tomorrow); the devices\n"
           "                            open a moment before, the file starts at that second\n"
           "  --stop-after SECONDS      stop that long after the start (decimals allowed; instead of\n"
           "                            --seconds)\n"
           "  --stop-at-size MB         stop once the file holds MB megabytes (10^6 bytes); without\n"
           "                            --seconds or --stop-after there is no time limit\n"
           "  --output DIR              folder of the file, created when missing (the program's\n"
           "                            output folder)\n"
           "  --echo-cancel on|off      take the system sound's echo out of the microphone (MP3,\n"
           "                            not on headphones; stored \"echo-check\", on when not stored)\n"
           "  --split-tracks            with --source both: also each source in a file of its own,\n"
           "                            in the folder NAME-分轨 beside the file (麦克风.EXT and\n"
           "                            系统声音.EXT; stored \"split-tracks\")\n"
           "  --silent                  record silence instead of the sources; no device is opened\n"
           "                            (the \"audio-mute-check\" mode)\n"
           "  --pause-at S              pause S seconds after the start (until the end without\n"
           "                            --resume-at)\n"
           "  --resume-at S             resume S seconds after the start\n"
           "  --voice-activated         record only while there is sound (stored \"voice-activation\"):\n"
           "                            from 0.2 s at or above the threshold on, with the 0.5 s before;\n"
           "                            a quiet stretch longer than --silence pauses it (0.5 s of it kept)\n"
           "  --threshold DB            the level that counts as sound, -90..0 dBFS (default -40)\n"
           "  --silence SECONDS         the quiet stretch that pauses, 0.1..600 (default 3)\n"
           "  --help                    show this text\n"
           "\n"
           "Prints the recorded time (hh:mm:ss) as each second is written and, as its last line, the\n"
           "path of the file. Ctrl+C or SIGTERM ends the recording early and still finishes the file.\n"
           "Exit status: 0 file written, 1 recording failed, 2 invalid arguments.\n";
}

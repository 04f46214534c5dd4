#include "tools/station/StationOptions.h"

#include <charconv>

#ifndef OSTRA_STATION_AUDIO_DIR
#define OSTRA_STATION_AUDIO_DIR "station-audio"
#endif
#ifndef OSTRA_STATION_GENERATOR
#define OSTRA_STATION_GENERATOR "tools/fixtures/make-station-audio.sh"
#endif

namespace station {

namespace {

std::optional<long> parseWhole(const std::string& text, long lowest, long highest) {
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

}  // namespace

std::string stationUsage() {
    return "usage: ostra-station [options]\n"
           "Serves the demo station: the live stream, the programme feed, the programmes and the\n"
           "advertisement list. Stops on Ctrl-C or SIGTERM.\n"
           "  --address A       address to listen on (default 127.0.0.1)\n"
           "  --live-port N     port of the live stream, path / (default 8170; 0 picks a free "
           "one)\n"
           "  --web-port N      port of the feed, the advertisement list and the programme files\n"
           "                    (default 8171; 0 picks a free one)\n"
           "  --base-url U      how clients reach the web port, for the feed's links\n"
           "                    (default http://ADDRESS:WEBPORT)\n"
           "  --audio-dir D     folder of the station's audio, made at first start\n"
           "                    (default " OSTRA_STATION_AUDIO_DIR
           ")\n"
           "  --generator S     script that makes the audio (default " OSTRA_STATION_GENERATOR
           ")\n"
           "  --head-start MS   audio sent at once to a new listener, in ms (default 2000)\n"
           "  --icy-interval N  audio bytes between metadata blocks for listeners that ask\n"
           "                    (default 16000; 0 sends none)\n"
           "  --title-every S   the title on air changes every S seconds (default 180)\n"
           "  --drop-every S    drops every listener every S seconds (default: never)\n"
           "  --quiet           no line per request\n"
           "  --help            this text\n";
}

std::optional<StationOptions> parseStationOptions(const std::vector<std::string>& args,
                                                  std::string* error) {
    StationOptions options;
    options.config.audioDir = OSTRA_STATION_AUDIO_DIR;
    options.generator = OSTRA_STATION_GENERATOR;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        auto port = [&](uint16_t* out) {
            const std::string* text = value();
            if (!text) return false;
            auto number = parseWhole(*text, 0, 65535);
            if (!number) {
                *error = "not a port: " + *text;
                return false;
            }
            *out = static_cast<uint16_t>(*number);
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--quiet") {
            options.config.logRequests = false;
        } else if (arg == "--live-port") {
            if (!port(&options.config.livePort)) return std::nullopt;
        } else if (arg == "--web-port") {
            if (!port(&options.config.webPort)) return std::nullopt;
        } else if (arg == "--address" || arg == "--base-url" || arg == "--audio-dir" ||
                   arg == "--generator") {
            const std::string* text = value();
            if (!text) return std::nullopt;
            if (arg == "--address") options.config.address = *text;
            if (arg == "--base-url") options.config.baseUrl = *text;
            if (arg == "--audio-dir") options.config.audioDir = *text;
            if (arg == "--generator") options.generator = *text;
        } else if (arg == "--head-start") {
            const std::string* text = value();
            if (!text) return std::nullopt;
            auto ms = parseWhole(*text, 0, 60'000);
            if (!ms) {
                *error = "not a head start in ms: " + *text;
                return std::nullopt;
            }
            options.config.headStart = std::chrono::milliseconds(*ms);
        } else if (arg == "--icy-interval" || arg == "--title-every" || arg == "--drop-every") {
            const std::string* text = value();
            if (!text) return std::nullopt;
            const bool interval = arg == "--icy-interval";
            auto number = parseWhole(*text, interval ? 0 : 1, interval ? 1 << 20 : 86'400);
            if (!number) {
                *error = "not a valid " + arg.substr(2) + ": " + *text;
                return std::nullopt;
            }
            if (interval) options.config.icyInterval = static_cast<size_t>(*number);
            if (arg == "--title-every")
                options.config.segmentLength = std::chrono::seconds(*number);
            if (arg == "--drop-every") options.config.dropEvery = std::chrono::seconds(*number);
        } else {
            *error = "unknown option: " + arg;
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace station

// ostra-station: the demo station on loopback, for trying the app without a real station.

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/Log.h"
#include "tools/station/StationAudio.h"
#include "tools/station/StationCatalogue.h"
#include "tools/station/StationOptions.h"
#include "tools/station/StationServer.h"
#include "tools/station/StopSignal.h"

namespace {

station::StopSignal* gStop = nullptr;

void onStopSignal(int) {
    if (gStop) gStop->request();
}

void installStopHandlers(station::StopSignal& stop) {
    gStop = &stop;
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking wait returns and sees the request
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options =
        station::parseStationOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
    if (!options) {
        std::cerr << "ostra-station: " << error << "\n" << station::stationUsage();
        return 2;
    }
    if (options->help) {
        std::cout << station::stationUsage();
        return 0;
    }

    station::StopSignal stop;
    installStopHandlers(stop);

    const auto& dir = options->config.audioDir;
    const auto files = station::stationAudioFiles();
    if (!station::missingAudioFiles(dir, files).empty()) {
        platform::logf("station: making the station's audio in %s (once; this takes a minute)",
                       dir.c_str());
    }
    const auto audio = station::ensureStationAudio(dir, options->generator, files, stop);
    if (audio.stopped) {
        platform::log("station: stopped before the audio was ready");
        return 0;
    }
    if (!audio.ready) {
        platform::log("station: " + audio.error);
        return 1;
    }

    auto loop = station::LiveLoop::load(dir / station::kLiveLoopFile, &error);
    if (!loop) {
        platform::log("station: " + error + " (delete " + dir.string() +
                      " to make the audio again)");
        return 1;
    }
    const double loopSeconds = loop->durationSeconds();
    const int bitrate = loop->bitrateKbps();
    station::StationServer server(options->config, std::move(*loop), stop);
    if (!server.listen(&error)) {
        platform::log("station: " + error);
        return 1;
    }
    const std::string host = options->config.address;
    platform::logf("station: live stream  http://%s:%u/ (%d kbit/s, a %.0f s loop)", host.c_str(),
                   server.livePort(), bitrate, loopSeconds);
    platform::logf("station: feed         %s/dev/feed/", server.baseUrl().c_str());
    platform::logf("station: ad list      %s/adXML.plist", server.baseUrl().c_str());
    // One line on stdout for scripts and tests that need the ports the station really got.
    std::printf("ready live=%u web=%u\n", server.livePort(), server.webPort());
    std::fflush(stdout);

    server.run();
    platform::log("station: stopped");
    return 0;
}

// Process entry: the application object makes the Qt application, the main queue and the
// delegate, launches, and runs the event loop until the window closes. Where no window can be
// shown (or --headless asks for it) the headless demo runs instead and reports on stdout.

#include <cstdio>
#include <cstring>
#include <string>

#include "app/Application.h"
#include "app/HeadlessDemo.h"
#include "platform/AllocatorArenas.h"
#include "platform/http/Networking.h"
#include "screens/StationAddresses.h"
#if OSTRA_HAVE_AUDIO
#include "platform/audio/sink/FallbackAudioSink.h"
#endif

namespace {

constexpr const char* kUsageIntroduction =
    "Ostra Radio: the station's live stream and its recorded programmes.\n"
    "  --help, -h        this text\n"
    "  --version         the version\n";

// --help and --version answer and exit before anything starts: no window, no stream.
bool answeredInformationRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s%s", kUsageIntroduction, headlessDemoUsage().c_str());
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("OstraRadio %s\n", OSTRA_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (answeredInformationRequest(argc, argv)) return 0;
    platform::useOneAllocatorArena();
    // Before any thread starts: the feed refresh and the streamers load over the network from
    // threads of their own.
    platform::initNetworking();
#if OSTRA_HAVE_AUDIO
    // The device, or silence in real time where there is none.
    audio::AudioSinkSetFactory(audio::makeDeviceAudioSink);
#endif
    std::string error;
    const auto demo = parseHeadlessDemoOptions(argc, argv, &error);
    if (!demo) {
        std::fprintf(stderr, "OstraRadio: %s\n%s", error.c_str(), headlessDemoUsage().c_str());
        return 64;
    }
    if (shouldRunHeadless(*demo)) return runHeadlessDemo(argc, argv, *demo);

    Application application(argc, argv, /*remembersBetweenRuns=*/true);
    application.launch(headlessDemoAddresses(*demo));
    // As in the headless run: the live screen reads songURL half a second after launch.
    if (!demo->liveURL.empty()) application.delegate().setSongURL(demo->liveURL);
    return application.exec();
}

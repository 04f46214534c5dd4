// Process entry: the application object makes the Qt application, the main queue and the
// delegate, launches, and runs the event loop until the window closes. Where no window can be
// shown (or --headless asks for it) the headless demo runs instead and reports on stdout.

#include <cstdio>
#include <string>

#include "app/Application.h"
#include "app/HeadlessDemo.h"
#include "platform/http/Networking.h"
#if OSTRA_HAVE_AUDIO
#include "platform/audio/sink/FallbackAudioSink.h"
#endif

int main(int argc, char** argv) {
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

    Application application(argc, argv);
    application.launch();
    return application.exec();
}

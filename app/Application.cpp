#include "app/Application.h"

#include <QIcon>

#include "app/KeyboardShortcuts.h"
#include "app/MainInterface.h"
#include "app/Preferences.h"
#include "app/myTabeBare.h"
#include "feeds/CatalogueRefresh.h"
#include "platform/ui/Animator.h"
#include "platform/ui/VolumeView.h"
#include "platform/ui/Window.h"
#include "streaming/AudioStreamer.h"

#if OSTRA_HAVE_AUDIO
#include "platform/audio/queue/AudioQueue.h"
#endif

Application::Application(int& argc, char** argv, bool remembersBetweenRuns)
    : remembersBetweenRuns_(remembersBetweenRuns) {
    if (!QApplication::instance()) {
        ownedQtApp_ = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setApplicationName("Ostra Radio");
    // The desktop entry names the window's application (the Wayland app id, the task bar).
    QGuiApplication::setDesktopFileName("org.ostraradio.OstraRadio");
    QApplication::setWindowIcon(QIcon(":/images/appicon.png"));
    queue_ = std::make_shared<ui::QtMainQueue>();
    platform::MainQueue::setMain(queue_);
    alerts_ = std::make_shared<ui::QtAlertPresenter>();
    platform::AlertPresenter::setCurrent(alerts_);
#if OSTRA_HAVE_AUDIO
    ui::VolumeView::setOutputVolumeTarget(audio::AudioQueueSetOutputVolume,
                                          audio::AudioQueueGetOutputVolume);
    // Before the screens are made: the volume control shows the output volume it finds.
    if (remembersBetweenRuns_) {
        if (const auto volume = preferences::volume()) audio::AudioQueueSetOutputVolume(*volume);
    }
#endif
    delegate_ = std::make_unique<OstraRadioAppDelegate>();
}

Application::~Application() {
    rememberForNextRun();
    mpris_.reset();
    shortcuts_.reset();
    // The screens go first: each stops its streamer, which waits for its streaming thread.
    delegate_.reset();
    // stop returns once a streamer is idle, but its thread still posts that last state change
    // to the main queue on its way out: the queue must outlive every streaming thread.
    AudioStreamer::waitForStreamingThreads(10);
    // A catalogue refresh still downloading ends within about a second; joined here so that
    // it never outlives the process's statics.
    CatalogueRefresh::shared().shutdown();
    ui::Animator::shared().reset();
    platform::AlertPresenter::setCurrent(nullptr);
    platform::MainQueue::setMain(nullptr);
}

void Application::launch() { launch(compiledInAddresses()); }

void Application::launch(const StationAddresses& addresses) {
    MainInterface main = loadMainInterface(addresses);
    alerts_->setParent(main.window.get());
    delegate_->setWindow(std::move(main.window));
    delegate_->setTabBarController(std::move(main.tabBarController));
    delegate_->applicationDidFinishLaunching();
    shortcuts_ = std::make_unique<KeyboardShortcuts>(
        *delegate_->window(), *delegate_->tabBarController(), [] { QApplication::quit(); });
    // Also in the headless run: programs on the bus drive it without a display.
    ui::Window* window = delegate_->window();
    mpris_ = std::make_unique<MprisService>(
        ShownPlayer(*delegate_->tabBarController()),
        MprisService::Hooks{[window] { window->makeKeyAndVisible(); },
                            [] { QApplication::quit(); }});
    // Where the window was last time; Qt keeps a restored window on a screen that exists.
    const QByteArray geometry =
        remembersBetweenRuns_ ? preferences::windowGeometry() : QByteArray();
    if (!geometry.isEmpty()) delegate_->window()->restoreGeometry(geometry);
    // The main interface's window is visible at launch.
    delegate_->window()->makeKeyAndVisible();
}

void Application::rememberForNextRun() {
    if (!remembersBetweenRuns_) return;
#if OSTRA_HAVE_AUDIO
    preferences::setVolume(audio::AudioQueueGetOutputVolume());
#endif
    if (delegate_ && delegate_->window())
        preferences::setWindowGeometry(delegate_->window()->saveGeometry());
}

int Application::exec() { return QApplication::exec(); }

void Application::quit() { QApplication::quit(); }

#include "app/Application.h"

#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "platform/ui/Animator.h"
#include "platform/ui/VolumeView.h"
#include "platform/ui/Window.h"

#if OSTRA_HAVE_AUDIO
#include "platform/audio/AudioQueue.h"
#endif

Application::Application(int& argc, char** argv) {
    if (!QApplication::instance()) {
        ownedQtApp_ = std::make_unique<QApplication>(argc, argv);
    }
    QApplication::setApplicationName("Ostra Radio");
    queue_ = std::make_shared<ui::QtMainQueue>();
    platform::MainQueue::setMain(queue_);
    alerts_ = std::make_shared<ui::QtAlertPresenter>();
    platform::AlertPresenter::setCurrent(alerts_);
#if OSTRA_HAVE_AUDIO
    ui::VolumeView::setOutputVolumeTarget(audio::AudioQueueSetOutputVolume,
                                          audio::AudioQueueGetOutputVolume);
#endif
    delegate_ = std::make_unique<OstraRadioAppDelegate>();
}

Application::~Application() {
    delegate_.reset();
    ui::Animator::shared().reset();
    platform::AlertPresenter::setCurrent(nullptr);
    platform::MainQueue::setMain(nullptr);
}

void Application::launch() {
    MainInterface main = loadMainInterface();
    alerts_->setParent(main.window.get());
    delegate_->setWindow(std::move(main.window));
    delegate_->setTabBarController(std::move(main.tabBarController));
    delegate_->applicationDidFinishLaunching();
    // The main interface's window is visible at launch.
    delegate_->window()->makeKeyAndVisible();
}

int Application::exec() { return QApplication::exec(); }

void Application::quit() { QApplication::quit(); }

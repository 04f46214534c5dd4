// The basic streaming player: a window with StreamingPlayerViewController, on Qt's event loop,
// with alerts as message boxes and the volume control driving the output queue's volume.

#include <QApplication>
#include <memory>

#include "platform/AlertPresenter.h"
#include "platform/MainQueue.h"
#include "platform/audio/queue/AudioQueue.h"
#include "platform/audio/sink/FallbackAudioSink.h"
#include "platform/ui/Animator.h"
#include "platform/ui/QtAlertPresenter.h"
#include "platform/ui/QtMainQueue.h"
#include "platform/ui/VolumeView.h"
#include "platform/ui/Window.h"
#include "screens/StreamingPlayerViewController.h"
#include "streaming/AudioStreamer.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QApplication::setApplicationName("Ostra Streaming Player");
    auto queue = std::make_shared<ui::QtMainQueue>();
    platform::MainQueue::setMain(queue);
    auto alerts = std::make_shared<ui::QtAlertPresenter>();
    platform::AlertPresenter::setCurrent(alerts);
    ui::VolumeView::setOutputVolumeTarget(audio::AudioQueueSetOutputVolume,
                                          audio::AudioQueueGetOutputVolume);
    audio::AudioSinkSetFactory(audio::makeDeviceAudioSink);

    int result = 0;
    {
        auto window = std::make_unique<ui::Window>();
        window->setTitle("Streaming Player");
        auto player = std::make_unique<StreamingPlayerViewController>();
        alerts->setParent(window.get());
        window->addSubview(player->view());
        window->makeKeyAndVisible();
        result = QApplication::exec();
        // The screen first: it stops its streamer, which waits for the streaming thread.
        alerts->setParent(nullptr);
        player.reset();
    }
    AudioStreamer::waitForStreamingThreads(5.0);
    ui::Animator::shared().reset();
    platform::AlertPresenter::setCurrent(nullptr);
    platform::MainQueue::setMain(nullptr);
    return result;
}

#pragma once
// The output volume control: a slider from 0 to 1 that sets the process's output volume.
// The toolkit does not link the audio services; the application installs the volume target
// once (audio::AudioQueueSetOutputVolume / AudioQueueGetOutputVolume) and every volume view
// drives it. Without a target the volume is kept here only. Main thread only.

#include <functional>

#include "platform/ui/Slider.h"
#include "platform/ui/View.h"

namespace ui {

class VolumeView : public View {
public:
    explicit VolumeView(Rect frame = {});
    ~VolumeView() override;

    static void setOutputVolumeTarget(std::function<void(float)> setVolume,
                                      std::function<float()> getVolume);
    static float outputVolume();
    // Sets the output volume (clamped to 0..1) from elsewhere than a slider (a key, the media
    // controls): every volume view shows it, and every observer hears of it.
    static void setOutputVolume(float volume);
    // Told of every change of the output volume, from a slider or from setOutputVolume.
    using VolumeObserver = std::function<void(float)>;
    static int addOutputVolumeObserver(VolumeObserver observer);
    static void removeOutputVolumeObserver(int token);

    Slider& slider() { return *slider_; }
    // A volume view is one slider high, as wide as it was made.
    Size sizeThatFits(Size size) const override;

protected:
    void layoutSubviews() override;
    void drawContents(QPainter& painter) override;

private:
    Slider* slider_;
};

}  // namespace ui

#include "app/Preferences.h"

#include <QSettings>
#include <algorithm>

namespace preferences {

namespace {

constexpr const char* kVolumeKey = "playback/volume";
constexpr const char* kGeometryKey = "window/geometry";

QSettings settings() { return QSettings("ostra-radio", "OstraRadio"); }

}  // namespace

std::optional<float> volume() {
    bool ok = false;
    const float value = settings().value(kVolumeKey).toFloat(&ok);
    // A hand-edited file may say anything: out of range is clamped, junk is no value.
    if (!ok) return std::nullopt;
    return std::clamp(value, 0.0f, 1.0f);
}

void setVolume(float volume) {
    settings().setValue(kVolumeKey, double(std::clamp(volume, 0.0f, 1.0f)));
}

QByteArray windowGeometry() { return settings().value(kGeometryKey).toByteArray(); }

void setWindowGeometry(const QByteArray& geometry) { settings().setValue(kGeometryKey, geometry); }

}  // namespace preferences

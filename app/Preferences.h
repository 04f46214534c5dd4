#pragma once
// What the app remembers between runs: the volume and where its window was. Kept with
// QSettings in the XDG config folder ($XDG_CONFIG_HOME/ostra-radio/OstraRadio.conf). Main
// thread only.

#include <QByteArray>
#include <optional>

namespace preferences {

// 0.0 to 1.0; none before the first run has ended.
std::optional<float> volume();
void setVolume(float volume);

// QWidget::saveGeometry's bytes; empty when none were saved.
QByteArray windowGeometry();
void setWindowGeometry(const QByteArray& geometry);

}  // namespace preferences

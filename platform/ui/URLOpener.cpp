#include "platform/ui/URLOpener.h"

#include <QDesktopServices>
#include <QUrl>

#include "platform/Log.h"

namespace ui {

namespace {
std::function<bool(const std::string&)> gHandler;
}

void setURLOpenHandler(std::function<bool(const std::string&)> handler) {
    gHandler = std::move(handler);
}

bool openURL(const std::string& url) {
    if (gHandler) return gHandler(url);
    const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
    // Only web addresses leave the app: a feed or a build setting must not start programs.
    if (!parsed.isValid() || (parsed.scheme() != "http" && parsed.scheme() != "https")) {
        platform::log("openURL: refused " + url);
        return false;
    }
    return QDesktopServices::openUrl(parsed);
}

}  // namespace ui

#include "platform/ui/Image.h"

#include <QFile>
#include <map>

#include "platform/Log.h"

namespace ui {

namespace {
// The artwork is drawn at two pixels per point, like the original's high-resolution images.
// The artwork is drawn at two pixels a point and written at four times that, for large
// windows on screens of two device pixels a pixel.
constexpr float kArtworkScale = 8.0f;

std::map<std::string, std::shared_ptr<const Image>>& cache() {
    static std::map<std::string, std::shared_ptr<const Image>> images;
    return images;
}
}  // namespace

std::shared_ptr<const Image> Image::named(const std::string& name) {
    auto& images = cache();
    if (auto it = images.find(name); it != images.end()) return it->second;
    const QString path = QStringLiteral(":/images/") + QString::fromStdString(name);
    QPixmap pixmap;
    if (!QFile::exists(path) || !pixmap.load(path)) {
        platform::log("Image: no image named " + name);
        return nullptr;
    }
    auto image = std::make_shared<const Image>(name, std::move(pixmap));
    images.emplace(name, image);
    return image;
}

Size Image::size() const {
    return {static_cast<float>(pixmap_.width()) / kArtworkScale,
            static_cast<float>(pixmap_.height()) / kArtworkScale};
}

}  // namespace ui

#include "platform/ui/Font.h"

#include <QFontDatabase>
#include <cmath>

#include "platform/ui/Screen.h"

namespace ui {

namespace {
constexpr const char* kFallbackFamily = "DejaVu Sans";

QString resolvedFamily(const std::string& family) {
    const QString name = QString::fromStdString(family);
    // Asking fontconfig for a missing family gives whatever it likes; choose the fallback here
    // so that every machine with the project's packages lays text out the same way.
    if (QFontDatabase::hasFamily(name)) return name;
    return QString::fromLatin1(kFallbackFamily);
}
}  // namespace

Font::Font(std::string family, float pointSize, bool bold)
    : family_(std::move(family)), pointSize_(pointSize), bold_(bold) {}

Font Font::systemFont(float pointSize) { return Font("Helvetica", pointSize, false); }

Font Font::boldSystemFont(float pointSize) { return Font("Helvetica", pointSize, true); }

Font Font::named(const std::string& name, float pointSize) {
    return Font(name, pointSize, name.find("Bold") != std::string::npos);
}

QFont Font::toQFont() const {
    QFont font(resolvedFamily(family_));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pointSize_ * Screen::scale()))));
    font.setBold(bold_);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

}  // namespace ui

#pragma once
// Localised string lookup. No tables ship, so every lookup returns its key (the English text).

#include <string>

namespace platform {

std::string localizedString(const std::string& key, const std::string& table = {});

}  // namespace platform

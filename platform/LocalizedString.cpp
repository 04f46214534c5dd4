#include "platform/LocalizedString.h"

namespace platform {

std::string localizedString(const std::string& key, const std::string& /*table*/) { return key; }

}  // namespace platform

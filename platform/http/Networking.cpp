#include "platform/http/Networking.h"

#include <curl/curl.h>

#include <mutex>

namespace platform {

void initNetworking() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace platform

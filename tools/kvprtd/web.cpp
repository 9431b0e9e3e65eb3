#include "web.h"

namespace kvprtd {

const WebAsset* findWebAsset(std::string_view name) {
    for (const WebAsset& asset : webAssets())
        if (asset.name == name) return &asset;
    return nullptr;
}

std::string_view contentType(std::string_view name) {
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    return "application/octet-stream";
}

}  // namespace kvprtd

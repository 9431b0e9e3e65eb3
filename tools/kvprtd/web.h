// The dashboard's files (tools/kvprtd/web/), built into the binary by
// web/embed.cmake: kvprtd serves them at / (HttpServer::routes).
#pragma once

#include <span>
#include <string_view>

namespace kvprtd {

struct WebAsset {
    std::string_view name;   // "index.html", "app.js"
    std::string_view body;
};

// Every file, in the order of the build's list (generated).
std::span<const WebAsset> webAssets();
// The file of that name; nullptr when there is none.
const WebAsset* findWebAsset(std::string_view name);
// The media type of a file by its extension.
std::string_view contentType(std::string_view name);

}  // namespace kvprtd

#pragma once

#include <string_view>
#include <vector>

namespace torvek::front::serve {

// A file of the page (front/web), built into the program so that it serves its page from nothing
// but itself.
struct WebAsset {
    std::string_view name;  // the file name, served at "/" + name
    std::string_view bytes;
};

// Every file of front/web, as generated at build time.
const std::vector<WebAsset>& webAssets();

}  // namespace torvek::front::serve

#include "front/project/site_name_file.h"

#include <sys/stat.h>

#include "front/files/file_output.h"
#include "front/project/project_json.h"

namespace torvek::front {
namespace {

// The format's name and version, so that a later layout can be told apart.
constexpr const char* kFormatName = "torvek site names";
constexpr int kFormatVersion = 1;

}  // namespace

std::string siteNamesPath(const std::string& dataSetPath) {
    return replaceExtension(dataSetPath, ".names.json");
}

std::string siteNamesText(const SiteNameTable& names) {
    Json sites = Json::array();
    for (const auto& [code, name] : names.entries()) {
        sites.push_back({{"code", code}, {"name", name}});
    }
    const Json file = {{"format", kFormatName}, {"version", kFormatVersion}, {"sites", sites}};
    return file.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

SiteNamesFound readSiteNamesFile(const std::string& path, const AdjustedDataSet& dataSet,
                                 SiteNameTable& names, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return SiteNamesFound::kNone;
    }
    std::string text;
    if (!readWholeFile(path, kMaximumProjectSize, text, error)) {
        return SiteNamesFound::kUnusable;
    }
    const Json file = Json::parse(text, nullptr, false);
    if (!file.is_object() || file.value("format", "") != kFormatName || !file.contains("sites") ||
        !file["sites"].is_array()) {
        error = path + ": is not a site names file";
        return SiteNamesFound::kUnusable;
    }
    SiteNameTable read;
    for (const Json& site : file["sites"]) {
        if (!site.is_object() || !site.contains("code") || !site["code"].is_string() ||
            !site.contains("name") || !site["name"].is_string()) {
            error = path + ": a site needs a \"code\" and a \"name\"";
            return SiteNamesFound::kUnusable;
        }
        read.add(site["code"].get<std::string>(), site["name"].get<std::string>());
    }
    for (const SiteRecord& record : dataSet.sites()) {
        if (read.entries().count(record.name.toString()) == 0) {
            error = path + ": does not name site \"" + record.name.toString() +
                    "\" of the data set (it belongs to another network)";
            return SiteNamesFound::kUnusable;
        }
    }
    names = std::move(read);
    return SiteNamesFound::kNames;
}

}  // namespace torvek::front

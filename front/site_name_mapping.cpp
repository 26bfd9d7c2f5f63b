#include "front/site_name_mapping.h"

#include "dataset/site_name.h"

namespace torvek::front {

std::string foldAsciiCase(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

std::string storedSiteName(const std::string& name) {
    std::string stored = name.substr(0, kSiteNameSize);
    stored.resize(kSiteNameSize, ' ');
    return stored;
}

std::string projectSiteName(const char* fourBytes) {
    std::string name = SiteName(fourBytes).toString();
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    return name;
}

std::vector<std::string> shortSiteNames(const std::vector<SiteRecord>& sites) {
    std::vector<std::string> names;
    for (const SiteRecord& site : sites) {
        const std::string name = site.name.toString();
        if (name.size() < kSiteNameSize) {
            names.push_back(name);
        }
    }
    return names;
}

bool SiteNameMapping::add(const std::string& name, std::string& problem,
                          std::vector<std::string>& notes) {
    if (name.empty()) {
        problem = "a site name may not be empty";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c > 0x7e) {
            problem = "site name \"" + name +
                      "\" holds a character other than printable ASCII (the data set keeps plain "
                      "ASCII names)";
            return false;
        }
    }
    if (name.front() == ' ' || name.back() == ' ') {
        problem = "site name \"" + name + "\" starts or ends with a blank";
        return false;
    }
    const std::string folded = foldAsciiCase(name);
    if (storedByFolded_.count(folded) != 0) {
        problem = "site name \"" + name + "\" is used twice (names are compared ignoring case)";
        return false;
    }
    const std::string stored = storedSiteName(name);
    const std::string foldedStored = foldAsciiCase(stored);
    auto owner = ownerByStored_.find(foldedStored);
    if (owner != ownerByStored_.end()) {
        problem = "site names \"" + owner->second + "\" and \"" + name + "\" both become \"" +
                  stored +
                  "\" in the data set, which keeps four characters ignoring case; rename one";
        return false;
    }
    if (name.size() > kSiteNameSize) {
        notes.push_back("site \"" + name + "\" is stored as \"" + stored +
                        "\" (the data set keeps four characters)");
    } else if (name.size() < kSiteNameSize) {
        notes.push_back("site \"" + name + "\" is stored as \"" + stored +
                        "\" (padded with blanks to four characters so that its vectors are found)");
    }
    storedByFolded_[folded] = stored;
    ownerByStored_[foldedStored] = name;
    return true;
}

bool SiteNameMapping::find(const std::string& name, std::string& stored) const {
    auto it = storedByFolded_.find(foldAsciiCase(name));
    if (it == storedByFolded_.end()) {
        return false;
    }
    stored = it->second;
    return true;
}

}  // namespace torvek::front

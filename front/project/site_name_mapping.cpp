#include "front/project/site_name_mapping.h"

#include <set>

#include "dataset/site_name.h"
#include "front/text/unicode_text.h"

namespace torvek::front {
namespace {

// The digits of the counts in made codes: base 36, upper case, so that two counts never differ
// in case only.
constexpr char kCodeDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::size_t kCodeBase = sizeof kCodeDigits - 1;
// Sites named in a note, at most; the rest are counted.
constexpr std::size_t kNamesInNote = 5;

bool isPrintableAscii(char c) {
    return c >= 0x20 && c <= 0x7e;
}

bool isAsciiLetterOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// A name that the data set keeps as it is (padded): one to four printable ASCII characters.
bool isOwnCode(const std::string& name) {
    if (name.empty() || name.size() > kSiteNameSize) {
        return false;
    }
    for (char c : name) {
        if (!isPrintableAscii(c)) {
            return false;
        }
    }
    return true;
}

std::string codeProblem(const std::string& code) {
    if (code.empty() || code.size() > kSiteNameSize) {
        return "a code has one to four characters, not " + std::to_string(code.size());
    }
    for (char c : code) {
        if (!isPrintableAscii(c)) {
            return "a code holds printable ASCII characters only";
        }
    }
    if (code.front() == ' ' || code.back() == ' ') {
        return "a code may not start or end with a blank";
    }
    return {};
}

// The codes taken so far, folded, and where the made codes of each prefix continue counting.
class CodeBook {
  public:
    bool taken(const std::string& code) const { return taken_.count(foldAsciiCase(code)) != 0; }
    void take(const std::string& code) { taken_.insert(foldAsciiCase(code)); }

    // The first free code of the name's letters and digits followed by a count; empty when every
    // four-character code of the form is taken.
    std::string make(const std::string& name) {
        std::string letters;
        for (char c : name) {
            if (isAsciiLetterOrDigit(c) && letters.size() < kSiteNameSize - 1) {
                letters += c;
            }
        }
        for (std::size_t kept = letters.size() + 1; kept-- > 0;) {
            const std::string prefix = letters.substr(0, kept);
            const std::size_t width = kSiteNameSize - kept;
            std::size_t combinations = 1;
            for (std::size_t i = 0; i < width; ++i) {
                combinations *= kCodeBase;
            }
            // Counts below the cursor are taken already and stay so: each search resumes there,
            // which keeps a network of many similar names linear in its size.
            std::size_t& next = cursor_[foldAsciiCase(prefix)];
            for (; next < combinations; ++next) {
                std::string code = prefix;
                std::string count(width, '0');
                for (std::size_t rest = next, i = width; i-- > 0; rest /= kCodeBase) {
                    count[i] = kCodeDigits[rest % kCodeBase];
                }
                code += count;
                if (!taken(code)) {
                    return code;
                }
            }
        }
        return {};
    }

  private:
    std::set<std::string> taken_;
    std::map<std::string, std::size_t> cursor_;
};

std::string quotedList(const std::vector<SiteNaming>& sites, const SiteCodes& codes,
                       const std::vector<std::size_t>& which) {
    std::string list;
    for (std::size_t k = 0; k < which.size() && k < kNamesInNote; ++k) {
        const std::size_t i = which[k];
        list += (k ? ", \"" : "\"") + sites[i].name + "\" as \"" + codes.codes[i] + "\"";
    }
    if (which.size() > kNamesInNote) {
        list += " and " + std::to_string(which.size() - kNamesInNote) + " more";
    }
    return list;
}

}  // namespace

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

std::string siteNameProblem(const std::string& name) {
    if (name.empty()) {
        return "a site name may not be empty";
    }
    if (!isUtf8(name)) {
        return "site name \"" + asUtf8(name) + "\" is not UTF-8 text";
    }
    for (char32_t c : decodeCharacters(name)) {
        if (isControlCharacter(c)) {
            return "site name \"" + name + "\" holds a control character (a tab or line end, say)";
        }
    }
    if (name.front() == ' ' || name.back() == ' ') {
        return "site name \"" + name + "\" starts or ends with a blank";
    }
    return {};
}

bool assignSiteCodes(const std::vector<SiteNaming>& sites, SiteCodes& codes,
                     SiteNamingError& error) {
    codes = SiteCodes{};
    codes.codes.assign(sites.size(), std::string());
    std::map<std::string, std::size_t> siteByName;
    std::map<std::string, std::size_t> siteByCode;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const SiteNaming& site = sites[i];
        std::string problem = siteNameProblem(site.name);
        if (problem.empty() && !siteByName.emplace(foldAsciiCase(site.name), i).second) {
            problem =
                "site name \"" + site.name + "\" is used twice (names are compared ignoring case)";
        }
        if (!problem.empty()) {
            error = {i, "name", problem};
            return false;
        }
        if (!site.code) {
            continue;
        }
        problem = codeProblem(*site.code);
        const std::string code = storedSiteName(*site.code);
        const auto [owner, added] = siteByCode.emplace(foldAsciiCase(code), i);
        if (problem.empty() && !added) {
            problem = "code \"" + *site.code + "\" is given to \"" + sites[owner->second].name +
                      "\" too (codes are compared ignoring case)";
        }
        if (!problem.empty()) {
            error = {i, "code", problem};
            return false;
        }
        codes.codes[i] = code;
    }

    CodeBook book;
    for (const std::string& code : codes.codes) {
        if (!code.empty()) {
            book.take(code);
        }
    }
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < sites.size(); ++i) {
        if (!codes.codes[i].empty()) {
            continue;
        }
        const std::string& name = sites[i].name;
        if (isOwnCode(name) && !book.taken(storedSiteName(name))) {
            codes.codes[i] = storedSiteName(name);
            book.take(codes.codes[i]);
            if (name.size() < kSiteNameSize) {
                codes.padded.push_back(i);
            }
        } else {
            rest.push_back(i);
        }
    }
    for (std::size_t i : rest) {
        const std::string& name = sites[i].name;
        std::string code = name.substr(0, kSiteNameSize);
        if (codeProblem(code).empty() && code.size() == kSiteNameSize && !book.taken(code)) {
            codes.codes[i] = code;
        } else {
            code = book.make(name);
            if (code.empty()) {
                error = {i, "name", "no four-character code is left for this site"};
                return false;
            }
            codes.codes[i] = code;
        }
        book.take(code);
        codes.made.push_back(i);
    }
    return true;
}

std::optional<std::string> paddedNamesNote(const std::vector<SiteNaming>& sites,
                                           const SiteCodes& codes) {
    if (codes.padded.empty()) {
        return std::nullopt;
    }
    return std::to_string(codes.padded.size()) +
           (codes.padded.size() == 1 ? " site name is" : " site names are") +
           " padded with blanks to four characters in the data set, so that the program finds "
           "their vectors: " +
           quotedList(sites, codes, codes.padded);
}

std::optional<std::string> madeCodesNote(const std::vector<SiteNaming>& sites,
                                         const SiteCodes& codes) {
    if (codes.made.empty()) {
        return std::nullopt;
    }
    return std::to_string(codes.made.size()) +
           (codes.made.size() == 1 ? " site gets a code" : " sites get codes") +
           " of four characters for the data set, which keeps no longer names: " +
           quotedList(sites, codes, codes.made) +
           "; everything the front end shows names the sites in full, and a project written by "
           "import keeps the codes (\"code\")";
}

void SiteNameTable::add(const std::string& code, const std::string& name) {
    nameByCode_[SiteName(code.c_str()).toString()] = name;
}

std::string SiteNameTable::nameOf(const char* code) const {
    const auto it = nameByCode_.find(SiteName(code).toString());
    return it == nameByCode_.end() ? projectSiteName(code) : it->second;
}

const std::string* SiteNameTable::renamed(const std::string& code) const {
    const auto it = nameByCode_.find(SiteName(code.c_str()).toString());
    if (it == nameByCode_.end() || it->second == projectSiteName(code.c_str())) {
        return nullptr;
    }
    return &it->second;
}

}  // namespace torvek::front

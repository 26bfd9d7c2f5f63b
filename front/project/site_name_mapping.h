#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "dataset/site_record.h"

namespace torvek::front {

// Full site names and the four-character codes of the data set.
//
// A project names its sites in full: any length, any Unicode characters but control characters, no
// blank at either end, each name once (ignoring the case of A to Z, as vector ends are matched).
// The data set keeps four bytes of printable ASCII per site, and the program finds a vector's ends
// through labels that print the names with "%4.4s", which right-aligns a shorter name: a site
// stored as "A" (NUL-padded) is looked for as "   A" and never matched. Every site therefore gets
// a code of exactly four characters, unique ignoring case:
//  1. the "code" the project gives it (an import writes the codes it makes into the project, so
//     that they stay the same from run to run);
//  2. else its own name, padded with blanks, when that is one to four printable ASCII characters;
//  3. else the first four characters of its name, when they are printable ASCII and the fourth
//     is no blank;
//  4. else a made code: the first three, two, one or none of the name's ASCII letters and digits
//     followed by a count in base 36 (0-9, A-Z), the first one no other site holds.
// Steps 1 and 2 take their codes before any site is given one by steps 3 and 4 (in list order),
// so a site added to a project never takes the code of a site already in it.

// One site as a project names it.
struct SiteNaming {
    std::string name;
    std::optional<std::string> code;  // as the project gives it, when it does
};

// The codes of a list of sites.
struct SiteCodes {
    std::vector<std::string> codes;   // four characters per site, in list order
    std::vector<std::size_t> padded;  // sites whose short name is padded with blanks
    std::vector<std::size_t> made;    // sites given a code by steps 3 and 4
};

// Why a list of sites cannot be given codes: the site (its index), the field ("name" or "code")
// and what is wrong.
struct SiteNamingError {
    std::size_t site = 0;
    std::string field;
    std::string what;
};

// Assigns the codes of `sites` by the steps above. False with `error` set when a name or a given
// code is not allowed or repeats, or when no four-character code is left (after 1.6 million).
bool assignSiteCodes(const std::vector<SiteNaming>& sites, SiteCodes& codes,
                     SiteNamingError& error);

// The notes that tell a person what the codes are: one about padded names, one about made codes
// (naming up to five sites each). Empty when there is nothing to say.
std::optional<std::string> paddedNamesNote(const std::vector<SiteNaming>& sites,
                                           const SiteCodes& codes);
std::optional<std::string> madeCodesNote(const std::vector<SiteNaming>& sites,
                                         const SiteCodes& codes);

// What is wrong with a full site name, or an empty text when it may be used.
std::string siteNameProblem(const std::string& name);

// The full names of the sites of a data set by their codes, for everything the front end shows.
class SiteNameTable {
  public:
    // Adds the site stored as `code` (four bytes) under its full name.
    void add(const std::string& code, const std::string& name);
    // The full name of the site stored as the four bytes at `code` (NUL-padded or not); a code
    // without an entry is shown as a project shows it, trailing blanks removed.
    std::string nameOf(const char* code) const;
    // The full name of the site stored as `code` (four bytes) when it differs from the code as
    // a project shows it, else nullptr: only such codes need replacing where the program prints
    // them.
    const std::string* renamed(const std::string& code) const;
    bool empty() const { return nameByCode_.empty(); }
    // Every entry: the code as stored (SiteName::toString) and the full name.
    const std::map<std::string, std::string>& entries() const { return nameByCode_; }

  private:
    std::map<std::string, std::string> nameByCode_;  // four bytes -> full name
};

// The stored four-character form of a name of one to four characters: blank-padded.
std::string storedSiteName(const std::string& name);

// A stored name as the project shows it: the four bytes up to the first NUL, trailing blanks
// removed (the padding added on import).
std::string projectSiteName(const char* fourBytes);

// Names of the sites of a data set that are shorter than four characters (NUL-padded): the
// program cannot find the vectors of such a site. Printable form, in list order.
std::vector<std::string> shortSiteNames(const std::vector<SiteRecord>& sites);

// The letters A to Z folded onto a to z, nothing else changed.
std::string foldAsciiCase(const std::string& text);

}  // namespace torvek::front

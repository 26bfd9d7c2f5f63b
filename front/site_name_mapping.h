#pragma once

#include <map>
#include <string>
#include <vector>

#include "dataset/site_record.h"

namespace torvek::front {

// How a project's site names become the four-byte names of the data set.
//
// The data set keeps four characters. Vectors are found again through labels that print their end
// names with "%4.4s", which right-aligns a shorter name: a site stored as "A" (NUL-padded) is
// looked for as "   A" and never matched, so every vector touching it drops out and the run ends
// for lack of redundancy. Names are therefore padded with blanks to exactly four characters, which
// print unchanged. Longer names are cut to four characters; two names that then read alike
// (ignoring case, as the program's site lookups do) are refused, since the program could not tell
// the sites apart.
class SiteNameMapping {
  public:
    // Adds the site `name` (as written in the project). False with `problem` set when the name is
    // empty, holds a character outside printable ASCII, starts or ends with a blank, or collides
    // with a site added before (same name, or same stored form ignoring case). `notes` receives a
    // line when the name is padded or cut.
    bool add(const std::string& name, std::string& problem, std::vector<std::string>& notes);

    // The stored form of a project name added before, matched ignoring the case of A to Z; false
    // when there is no such site.
    bool find(const std::string& name, std::string& stored) const;

  private:
    std::map<std::string, std::string> storedByFolded_;  // folded project name -> stored name
    std::map<std::string, std::string> ownerByStored_;   // folded stored name -> project name
};

// The stored four-character form of a project name: blank-padded or cut. No checks.
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

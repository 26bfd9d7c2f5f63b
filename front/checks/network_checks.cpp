#include "front/checks/network_checks.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <numeric>
#include <unordered_map>

#include "front/text/messages.h"
#include "front/text/text_format.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"

namespace torvek::front {
namespace {

// Approximate coordinates of free sites may be off by metres (start values from a map or a single
// receiver), so the difference of two may miss a vector by several; GNSS vectors themselves miss
// the true difference by a few ppm. Misfits beyond both come from the vector: swapped ends, a
// wrong sign, wrong units.
constexpr double kMisfitFloor = 10.0;    // metres
constexpr double kMisfitShare = 1.0e-4;  // of the vector's length (100 ppm)
constexpr double kMetresPerKilometre = 1000.0;
// GNSS vectors are known to millimetres or centimetres; a sigma this large (metres) is far more
// likely a value in millimetres.
constexpr double kSuspectVectorSigma = 0.5;
// The program makes a run minimally constrained when its network holds this many fixed
// coordinates or fewer, and a minimally constrained run weights no site.
constexpr int kFixesOfMinimalRun = 3;
// Findings of one kind shown one by one; the rest are counted.
constexpr std::size_t kListed = 10;
// Sites named in one finding about several sites, at most.
constexpr std::size_t kNamesInFinding = 5;
constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

constexpr int kLatitude = 0, kLongitude = 1, kElevation = 2;
const char* const kCoordinateNames[3] = {"latitude", "longitude", "elevation"};

using Fixes = std::array<bool, 3>;  // latitude, longitude, elevation

Fixes fixesOf(const SiteRecord& s) {
    return {s.latitudeFixed != 0, s.longitudeFixed != 0, s.elevationFixed != 0};
}

std::array<double, 3> sigmasOf(const SiteRecord& s) {
    return {s.latitudeSigma, s.longitudeSigma, s.elevationSigma};
}

bool anyOf(const Fixes& f) {
    return f[0] || f[1] || f[2];
}

// What the program will make of the network's control before it adjusts.
struct DatumPlan {
    std::vector<int> from, to;   // per vector: the site of each end, -1 when none in use matches
    std::vector<bool> adjusted;  // per site: in the network the run adjusts
    std::vector<Fixes> fixed;    // per site: the fixes the run holds
    std::vector<Fixes> paired;   // per site: the fix added to make a horizontal fix a pair
    std::vector<Fixes> dropped;  // per site: fixes a minimally constrained run drops
    bool redundant = false;      // the adjusted network has two sites or more
    bool minimal = false;
    bool minimalBySetting = false;
    int fixCount = 0;
    std::size_t anchor = kNone;  // the site that takes the missing fixes
    Fixes anchorAdded{};         // the fixes it takes
};

// The four characters a vector label prints for a name: "%4.4s", right-aligned.
std::string printedName(const SiteName& name) {
    // As printf's "%4.4s" writes it: up to the first zero byte, right-aligned in four places.
    std::size_t length = 0;
    while (length < kSiteNameSize && name.data()[length] != '\0') {
        ++length;
    }
    return std::string(kSiteNameSize - length, ' ') + std::string(name.data(), length);
}

// The kSiteNameSize bytes of a code as one number, for looking codes up.
std::uint32_t codeKey(const char* bytes) {
    static_assert(kSiteNameSize == sizeof(std::uint32_t));
    std::uint32_t key = 0;
    std::memcpy(&key, bytes, sizeof key);
    return key;
}

std::size_t findRoot(std::vector<std::size_t>& parent, std::size_t i) {
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

// The sites of the network the program adjusts: the group of sites joined by vectors in use
// with the largest product of latitude, longitude and elevation fixes, else the largest sum,
// else the most sites; ties go to the group whose first vector comes first.
std::vector<std::size_t> chosenGroup(const AdjustedDataSet& ds, const DatumPlan& plan) {
    const std::size_t n = ds.sites().size();
    std::vector<std::size_t> parent(n);
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    std::vector<bool> touched(n, false);
    for (std::size_t v = 0; v < plan.from.size(); ++v) {
        if (plan.from[v] >= 0 && plan.to[v] >= 0) {
            const auto a = static_cast<std::size_t>(plan.from[v]);
            const auto b = static_cast<std::size_t>(plan.to[v]);
            touched[a] = touched[b] = true;
            parent[findRoot(parent, a)] = findRoot(parent, b);
        }
    }
    std::map<std::size_t, std::size_t> firstVector;  // root -> its earliest vector
    for (std::size_t v = 0; v < plan.from.size(); ++v) {
        if (plan.from[v] >= 0 && plan.to[v] >= 0) {
            firstVector.emplace(findRoot(parent, static_cast<std::size_t>(plan.from[v])), v);
        }
    }
    struct Tally {
        std::size_t first = 0;
        long fixes[3] = {0, 0, 0};
        long sites = 0;
    };
    std::map<std::size_t, Tally> groups;
    for (std::size_t i = 0; i < n; ++i) {
        if (!touched[i]) {
            continue;
        }
        const std::size_t root = findRoot(parent, i);
        Tally& tally = groups[root];
        tally.first = firstVector[root];
        const Fixes f = fixesOf(ds.sites()[i]);
        for (int k = 0; k < 3; ++k) {
            tally.fixes[k] += f[static_cast<std::size_t>(k)] ? 1 : 0;
        }
        ++tally.sites;
    }
    std::vector<std::pair<std::size_t, Tally>> ordered(groups.begin(), groups.end());
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.second.first < b.second.first; });
    const auto product = [](const Tally& t) { return t.fixes[0] * t.fixes[1] * t.fixes[2]; };
    const auto sum = [](const Tally& t) { return t.fixes[0] + t.fixes[1] + t.fixes[2]; };
    bool anyProduct = false, anySum = false;
    for (const auto& [root, tally] : ordered) {
        anyProduct = anyProduct || product(tally) > 0;
        anySum = anySum || sum(tally) > 0;
    }
    const auto score = [&](const Tally& t) {
        return anyProduct ? product(t) : anySum ? sum(t) : t.sites;
    };
    std::size_t best = kNone;
    long bestScore = -1;
    for (const auto& [root, tally] : ordered) {
        if (score(tally) > bestScore) {
            best = root;
            bestScore = score(tally);
        }
    }
    std::vector<std::size_t> members;
    for (std::size_t i = 0; i < n && best != kNone; ++i) {
        if (touched[i] && findRoot(parent, i) == best) {
            members.push_back(i);
        }
    }
    return members;
}

// The fixes the program adds to the chosen network and those a minimally constrained run drops.
void completeDatum(const AdjustedDataSet& ds, const std::vector<std::size_t>& members,
                   DatumPlan& plan) {
    Fixes held{};
    for (std::size_t i : members) {
        Fixes& f = plan.fixed[i];
        // A horizontal fix holds latitude and longitude together.
        if (f[kLongitude] != f[kLatitude]) {
            plan.paired[i][f[kLatitude] ? kLongitude : kLatitude] = true;
            f[kLatitude] = f[kLongitude] = true;
        }
        for (std::size_t k = 0; k < 3; ++k) {
            held[k] = held[k] || f[k];
        }
        if (plan.anchor == kNone && anyOf(f)) {
            plan.anchor = i;
        }
    }
    if (plan.anchor == kNone) {
        plan.anchor = members.front();
    }
    if (!held[kElevation]) {
        plan.fixed[plan.anchor][kElevation] = plan.anchorAdded[kElevation] = true;
    }
    if (!held[kLatitude] && !held[kLongitude]) {
        for (int k : {kLatitude, kLongitude}) {
            plan.fixed[plan.anchor][k] = plan.anchorAdded[static_cast<std::size_t>(k)] = true;
        }
    }
    for (std::size_t i : members) {
        for (bool f : plan.fixed[i]) {
            plan.fixCount += f ? 1 : 0;
        }
    }
    plan.minimalBySetting =
        !ds.adjustmentRecords().empty() && ds.adjustmentRecords().back().minimallyConstrained != 0;
    plan.minimal = plan.minimalBySetting || plan.fixCount <= kFixesOfMinimalRun;
    if (!plan.minimal) {
        return;
    }
    // A minimally constrained run keeps the fixes of its first horizontally and its first
    // vertically fixed site only.
    bool horizontal = false, vertical = false;
    for (std::size_t i : members) {
        Fixes& f = plan.fixed[i];
        if (f[kLatitude] && f[kLongitude]) {
            if (horizontal) {
                plan.dropped[i][kLatitude] = plan.dropped[i][kLongitude] = true;
                f[kLatitude] = f[kLongitude] = false;
            }
            horizontal = true;
        }
        if (f[kElevation]) {
            if (vertical) {
                plan.dropped[i][kElevation] = true;
                f[kElevation] = false;
            }
            vertical = true;
        }
    }
}

DatumPlan planDatum(const AdjustedDataSet& ds) {
    const std::vector<SiteRecord>& sites = ds.sites();
    DatumPlan plan;
    plan.adjusted.assign(sites.size(), false);
    plan.fixed.assign(sites.size(), Fixes{});
    plan.paired = plan.dropped = plan.fixed;
    // Sites in use by their code's bytes; the first of a code.
    std::unordered_map<std::uint32_t, std::size_t> siteByCode;
    siteByCode.reserve(sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        if (sites[i].inUse != 0) {
            siteByCode.emplace(codeKey(sites[i].name.data()), i);
        }
    }
    for (const VectorRecord& v : ds.vectors()) {
        const auto from = siteByCode.find(codeKey(printedName(v.fromSite).data()));
        const auto to = siteByCode.find(codeKey(printedName(v.toSite).data()));
        const bool found = v.inUse != 0 && from != siteByCode.end() && to != siteByCode.end();
        plan.from.push_back(found ? static_cast<int>(from->second) : -1);
        plan.to.push_back(found ? static_cast<int>(to->second) : -1);
    }
    const std::vector<std::size_t> members = chosenGroup(ds, plan);
    plan.redundant = members.size() >= 2;
    if (!plan.redundant) {
        return plan;
    }
    for (std::size_t i : members) {
        plan.adjusted[i] = true;
        plan.fixed[i] = fixesOf(sites[i]);
    }
    completeDatum(ds, members, plan);
    return plan;
}

class Checker {
  public:
    Checker(const AdjustedDataSet& ds, const SiteNameTable& names)
        : ds_(ds), names_(names), plan_(planDatum(ds)) {}

    NetworkFindings run() {
        duplicateNames();
        datumNotes();
        unusedSigmas();
        if (!plan_.redundant && !ds_.sites().empty()) {
            out_.warnings.push_back(
                "no vector in use joins two sites in use: the program will stop for lack of "
                "redundancy");
        }
        geoidHeights();
        vectorMisfits();
        vectorSigmas();
        return out_;
    }

  private:
    std::string site(std::size_t i) const {
        return "sites[" + std::to_string(i) + "] (\"" + names_.nameOf(ds_.sites()[i].name.data()) +
               "\")";
    }

    std::string vector(std::size_t v) const {
        const VectorRecord& r = ds_.vectors()[v];
        return "vectors[" + std::to_string(v) + "] (\"" + names_.nameOf(r.fromSite.data()) +
               "\" to \"" + names_.nameOf(r.toSite.data()) + "\")";
    }

    std::string siteList(const std::vector<std::size_t>& which) const {
        std::string list;
        for (std::size_t k = 0; k < which.size() && k < kNamesInFinding; ++k) {
            list += (k ? ", " : "") + site(which[k]);
        }
        if (which.size() > kNamesInFinding) {
            list += " and " + std::to_string(which.size() - kNamesInFinding) + " more";
        }
        return list;
    }

    // Sites that share a name: the program finds every vector end and lookup at the first of
    // them, so the others get no equation ("There is no equation for unknown ...").
    void duplicateNames() {
        std::map<std::string, std::vector<std::size_t>> byName;
        const auto& sites = ds_.sites();
        for (std::size_t i = 0; i < sites.size(); ++i) {
            std::string key(sites[i].name.data(), kSiteNameSize);
            for (char& c : key) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            byName[key].push_back(i);
        }
        std::vector<std::pair<std::size_t, std::string>> found;  // by first site, in list order
        for (const auto& [key, which] : byName) {
            if (which.size() > 1) {
                found.emplace_back(which.front(), siteList(which) +
                                                      " share one name (names are matched "
                                                      "ignoring case): the program finds only the "
                                                      "first, and the others get no equation; "
                                                      "rename them");
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> lines;
        for (auto& [first, line] : found) {
            lines.push_back(std::move(line));
        }
        listed(out_.warnings, lines, "names are shared by several sites");
    }

    // "a", "a and b", "a, b and c".
    static std::string wordList(const std::vector<std::string>& words) {
        std::string list;
        for (std::size_t k = 0; k < words.size(); ++k) {
            list += (k == 0 ? "" : k + 1 == words.size() ? " and " : ", ") + words[k];
        }
        return list;
    }

    // Findings of one kind: the first kListed one by one, then how many more.
    static void listed(std::vector<std::string>& out, const std::vector<std::string>& items,
                       const std::string& rest) {
        for (std::size_t k = 0; k < items.size() && k < kListed; ++k) {
            out.push_back(items[k]);
        }
        if (items.size() > kListed) {
            out.push_back(std::to_string(items.size() - kListed) + " more " + rest);
        }
    }

    void datumNotes() {
        if (!plan_.redundant) {
            return;
        }
        const Fixes& anchorAdded = plan_.anchorAdded;
        const std::string anchor = site(plan_.anchor);
        if (anchorAdded[kLatitude] && anchorAdded[kElevation]) {
            out_.notes.push_back(
                "no site of the network is held fixed: the program holds " + anchor +
                ", its first site, fixed in latitude, longitude and elevation, and adjusts the "
                "network minimally constrained around it (fix sites to choose the datum)");
        } else if (anchorAdded[kElevation]) {
            out_.notes.push_back("no elevation is held fixed: the program holds the elevation of " +
                                 anchor + ", the first fixed site");
        } else if (anchorAdded[kLatitude] && anchorAdded[kLongitude]) {
            out_.notes.push_back(
                "no latitude or longitude is held fixed: the program holds the latitude and "
                "longitude of " +
                anchor + ", the first fixed site");
        }
        std::vector<std::size_t> paired, dropped;
        for (std::size_t i = 0; i < ds_.sites().size(); ++i) {
            if (anyOf(plan_.paired[i])) {
                paired.push_back(i);
            }
            if (anyOf(plan_.dropped[i])) {
                dropped.push_back(i);
            }
        }
        if (!paired.empty()) {
            out_.notes.push_back(
                siteList(paired) + (paired.size() == 1 ? " is" : " are") +
                " held fixed in latitude or longitude only: the program holds both, as a "
                "horizontal fix always does");
        }
        if (!dropped.empty()) {
            out_.notes.push_back(
                "the run is minimally constrained (settings.minimallyConstrained), so the "
                "program keeps the fixes of the first horizontally and the first vertically "
                "fixed site only and drops those of " +
                siteList(dropped) + "; set minimallyConstrained to false to hold them all");
        }
    }

    void unusedSigmas() {
        std::vector<std::string> single;
        std::vector<std::size_t> minimal;
        for (std::size_t i = 0; i < ds_.sites().size(); ++i) {
            const SiteRecord& s = ds_.sites()[i];
            const std::array<double, 3> sigmas = sigmasOf(s);
            if (sigmas[0] <= 0.0 && sigmas[1] <= 0.0 && sigmas[2] <= 0.0) {
                continue;
            }
            if (s.inUse == 0) {
                single.push_back(
                    "the constraint sigmas of " + site(i) +
                    " are not used: the site is not in use (set \"inUse\" to true to weight it)");
            } else if (!plan_.adjusted[i]) {
                single.push_back("the constraint sigmas of " + site(i) +
                                 " are not used: no vector in use joins the site to the network "
                                 "the run adjusts");
            } else if (plan_.minimal) {
                minimal.push_back(i);
            } else {
                std::vector<std::string> held;
                for (std::size_t k = 0; k < 3; ++k) {
                    if (sigmas[k] > 0.0 && plan_.fixed[i][k]) {
                        held.push_back(kCoordinateNames[k]);
                    }
                }
                if (held.size() == 1) {
                    single.push_back("the " + held[0] + " sigma of " + site(i) +
                                     " is not used: the " + held[0] +
                                     " is held fixed (leave it free to weight it)");
                } else if (!held.empty()) {
                    single.push_back("the " + wordList(held) + " sigmas of " + site(i) +
                                     " are not used: those coordinates are held fixed (leave "
                                     "them free to weight them)");
                }
            }
        }
        if (!minimal.empty()) {
            std::string why, change;
            if (plan_.minimalBySetting) {
                why = "settings.minimallyConstrained is true";
                change = "set it to false";
            }
            if (plan_.fixCount <= kFixesOfMinimalRun) {
                why += std::string(why.empty() ? "" : " and ") + "the network holds only " +
                       std::to_string(plan_.fixCount) +
                       " fixed coordinates (three or fewer make a run minimally constrained)";
                change += std::string(change.empty() ? "" : " and ") +
                          "hold more than three coordinates fixed in all (one site fully and "
                          "another's elevation, say)";
            }
            out_.warnings.push_back("the constraint sigmas of " + siteList(minimal) +
                                    " are not used: a minimally constrained run weights no site, "
                                    "and this run is one because " +
                                    why + "; to weight them, " + change);
        }
        listed(out_.warnings, single, "sites have constraint sigmas the run does not use");
    }

    void geoidHeights() {
        std::vector<std::size_t> considered, missing;
        for (std::size_t i = 0; i < ds_.sites().size(); ++i) {
            const bool loaded = plan_.redundant ? plan_.adjusted[i] : ds_.sites()[i].inUse != 0;
            if (loaded) {
                considered.push_back(i);
                if (ds_.sites()[i].geoidHeight == 0.0) {
                    missing.push_back(i);
                }
            }
        }
        if (missing.empty() || missing.size() == considered.size()) {
            return;
        }
        out_.warnings.push_back(
            std::to_string(missing.size()) + " of the " + std::to_string(considered.size()) +
            " sites the run adjusts have no geoid height while the others have one: " +
            siteList(missing) +
            "; the program stops (\"Geoid height(s) missing\") unless every site has one or none");
    }

    void vectorMisfits() {
        const EllipsoidParameters ellipsoid = ds_.ellipsoid();
        const double a = ellipsoid.semiMajorAxis;
        const double e2 = eccentricitySquared(ellipsoid.inverseFlattening);
        std::vector<Vector3> position;
        for (const SiteRecord& s : ds_.sites()) {
            position.push_back(cartesianFromGeodeticAt(a, e2, radiansFromDegrees(s.latitude),
                                                       radiansFromDegrees(s.longitude),
                                                       s.elevation + s.geoidHeight));
        }
        std::vector<std::string> found;
        for (std::size_t v = 0; v < ds_.vectors().size(); ++v) {
            if (plan_.from[v] < 0 || plan_.to[v] < 0) {
                continue;
            }
            const Vector3& p = position[static_cast<std::size_t>(plan_.from[v])];
            const Vector3& q = position[static_cast<std::size_t>(plan_.to[v])];
            const VectorRecord& r = ds_.vectors()[v];
            const Vector3 between = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
            const Vector3 measured = {r.deltaX, r.deltaY, r.deltaZ};
            const double length = norm(between);
            const double tolerance = kMisfitFloor + kMisfitShare * length;
            const double misfit = distance(measured, between);
            if (!(misfit > tolerance)) {
                continue;
            }
            found.push_back(vector(v) +
                            formatText(" disagrees with the approximate coordinates of its ends "
                                       "by %.3f m (they lie %.3f m apart): ",
                                       misfit, length) +
                            likelySlip(measured, between, tolerance));
        }
        listed(out_.warnings, found,
               "vectors disagree with the approximate coordinates of their ends");
    }

    // The slip that brings the vector within `tolerance` of its ends' difference, if one does.
    static std::string likelySlip(const Vector3& measured, const Vector3& between,
                                  double tolerance) {
        struct Slip {
            Vector3 corrected;
            const char* what;
        };
        const Vector3& d = measured;
        const Slip slips[] = {
            {{-d[0], -d[1], -d[2]}, "its ends look swapped, or all its signs reversed"},
            {{-d[0], d[1], d[2]}, "its dX looks to have the wrong sign"},
            {{d[0], -d[1], d[2]}, "its dY looks to have the wrong sign"},
            {{d[0], d[1], -d[2]}, "its dZ looks to have the wrong sign"},
            {{d[0] / kMetresPerKilometre, d[1] / kMetresPerKilometre, d[2] / kMetresPerKilometre},
             "its components look like millimetres, not metres"},
            {{d[0] * kMetresPerKilometre, d[1] * kMetresPerKilometre, d[2] * kMetresPerKilometre},
             "its components look like kilometres, not metres"},
        };
        for (const Slip& slip : slips) {
            if (distance(slip.corrected, between) <= tolerance) {
                return slip.what;
            }
        }
        return "check its components, its ends and their coordinates";
    }

    void vectorSigmas() {
        std::vector<std::string> found;
        for (std::size_t v = 0; v < ds_.vectors().size(); ++v) {
            const VectorRecord& r = ds_.vectors()[v];
            if (r.inUse == 0 || std::max({r.sigmaX, r.sigmaY, r.sigmaZ}) < kSuspectVectorSigma) {
                continue;
            }
            found.push_back(vector(v) +
                            formatText(" has sigmas of %.4g, %.4g and %.4g m: they look like "
                                       "millimetres entered as metres (GNSS vectors are known to "
                                       "millimetres or centimetres); give them in metres",
                                       r.sigmaX, r.sigmaY, r.sigmaZ));
        }
        listed(out_.warnings, found, "vectors have sigmas of 0.5 m or more");
    }

    static double norm(const Vector3& v) {
        return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    }

    static double distance(const Vector3& a, const Vector3& b) {
        return norm({a[0] - b[0], a[1] - b[1], a[2] - b[2]});
    }

    const AdjustedDataSet& ds_;
    const SiteNameTable& names_;
    const DatumPlan plan_;
    NetworkFindings out_;
};

}  // namespace

NetworkFindings checkNetwork(const AdjustedDataSet& dataSet, const SiteNameTable& names) {
    return Checker(dataSet, names).run();
}

void printNetworkFindings(const AdjustedDataSet& dataSet, const SiteNameTable& names) {
    const NetworkFindings findings = checkNetwork(dataSet, names);
    printMessages("warning: ", findings.warnings);
    printMessages("note: ", findings.notes);
}

}  // namespace torvek::front

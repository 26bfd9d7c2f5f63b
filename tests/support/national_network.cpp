#include "support/national_network.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "dataset/project_data_set.h"

namespace torvek::testing {
namespace {

// The text between `open` and the next `close` within [from, limit), or nothing.
std::optional<std::string> element(const std::string& text, const std::string& open,
                                   const std::string& close, std::size_t from, std::size_t limit) {
    std::size_t start = text.find(open, from);
    if (start == std::string::npos || start >= limit)
        return std::nullopt;
    start += open.size();
    std::size_t end = text.find(close, start);
    if (end == std::string::npos || end > limit)
        return std::nullopt;
    return text.substr(start, end - start);
}

std::string trimmed(const std::string& s) {
    std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<double> number(const std::optional<std::string>& text) {
    if (!text)
        return std::nullopt;
    std::string t = trimmed(*text);
    char* end = nullptr;
    double value = std::strtod(t.c_str(), &end);
    if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A few free points come without coordinates: they start from a neighbour's position plus the
// vector between them, which the adjustment then corrects like any other start value.
bool completeStartPositions(NetworkFile& file, const std::map<std::string, int>& index) {
    for (bool changed = true; changed;) {
        changed = false;
        for (const NetworkVector& v : file.vectors) {
            NetworkPoint& a = file.points[index.at(v.from)];
            NetworkPoint& b = file.points[index.at(v.to)];
            if (a.hasPosition == b.hasPosition)
                continue;
            double sign = a.hasPosition ? 1.0 : -1.0;
            NetworkPoint& known = a.hasPosition ? a : b;
            NetworkPoint& unknown = a.hasPosition ? b : a;
            for (int c = 0; c < 3; ++c)
                unknown.xyz[c] = known.xyz[c] + sign * v.delta[c];
            unknown.hasPosition = true;
            changed = true;
        }
    }
    for (const NetworkPoint& p : file.points)
        if (!p.hasPosition)
            return false;
    return true;
}

}  // namespace

bool parseNetworkFile(const std::string& text, NetworkFile& file, std::string& problem) {
    const std::size_t freeMarker = text.find("<free>");
    const std::size_t constrainedMarker = std::min(text.find("<constr>"), freeMarker);
    if (freeMarker == std::string::npos) {
        problem = "no <free> marker";
        return false;
    }
    for (std::size_t at = text.find("<point>"); at != std::string::npos;
         at = text.find("<point>", at + 1)) {
        std::size_t end = text.find("</point>", at);
        if (end == std::string::npos) {
            problem = "unterminated <point>";
            return false;
        }
        NetworkPoint p;
        std::optional<std::string> id = element(text, "<id>", "</id>", at, end);
        if (!id || trimmed(*id).empty()) {
            problem = "a point without an id";
            return false;
        }
        p.id = trimmed(*id);
        if (at > constrainedMarker && at < freeMarker) {
            problem = "a constrained point: " + p.id;
            return false;
        }
        p.fixed = at < constrainedMarker;
        std::optional<double> x = number(element(text, "<x>", "</x>", at, end));
        std::optional<double> y = number(element(text, "<y>", "</y>", at, end));
        std::optional<double> z = number(element(text, "<z>", "</z>", at, end));
        p.hasPosition = x && y && z;
        if (p.hasPosition)
            p.xyz = {*x, *y, *z};
        file.points.push_back(p);
    }
    for (std::size_t at = text.find("<vector>"); at != std::string::npos;
         at = text.find("<vector>", at + 1)) {
        std::size_t end = text.find("</cov-mat>", at);
        if (end == std::string::npos) {
            problem = "a vector without a covariance";
            return false;
        }
        NetworkVector v;
        std::optional<std::string> from = element(text, "<from>", "</from>", at, end);
        std::optional<std::string> to = element(text, "<to>", "</to>", at, end);
        std::optional<double> dx = number(element(text, "<dx>", "</dx>", at, end));
        std::optional<double> dy = number(element(text, "<dy>", "</dy>", at, end));
        std::optional<double> dz = number(element(text, "<dz>", "</dz>", at, end));
        std::size_t covariance = text.find("<cov-mat>", at);
        if (!from || !to || !dx || !dy || !dz || covariance > end) {
            problem = "a damaged vector at byte " + std::to_string(at);
            return false;
        }
        v.from = trimmed(*from);
        v.to = trimmed(*to);
        v.delta = {*dx, *dy, *dz};
        std::size_t cursor = covariance;
        for (int k = 0; k < 3; ++k) {
            std::optional<double> q = number(element(text, "<flt>", "</flt>", cursor, end));
            if (!q || *q <= 0) {
                problem = "a damaged covariance at byte " + std::to_string(covariance);
                return false;
            }
            v.variance[k] = *q;
            cursor = text.find("</flt>", cursor) + 1;
        }
        file.vectors.push_back(v);
    }
    return true;
}

bool buildNationalNetwork(NetworkFile file, SyntheticNetwork& net, std::string& problem) {
    std::map<std::string, int> index;
    for (std::size_t k = 0; k < file.points.size(); ++k) {
        if (!index.emplace(file.points[k].id, int(k)).second) {
            problem = "two points named " + file.points[k].id;
            return false;
        }
    }
    for (const NetworkVector& v : file.vectors) {
        if (!index.count(v.from) || !index.count(v.to)) {
            problem = "a vector to an unknown point: " + v.from + " " + v.to;
            return false;
        }
    }
    if (!completeStartPositions(file, index)) {
        problem = "a point without a start position";
        return false;
    }

    // WGS84, the data set's ellipsoid.
    net = SyntheticNetwork();
    Triple mean{0, 0, 0};
    for (const NetworkPoint& p : file.points)
        for (int c = 0; c < 3; ++c)
            mean[c] += p.xyz[c] / double(file.points.size());
    Triple centre = cartesianToGeodetic(mean, net.semiMajorAxis, net.inverseFlattening);
    net.referenceLatitude = centre[0];
    net.referenceLongitude = centre[1];
    for (std::size_t k = 0; k < file.points.size(); ++k) {
        const NetworkPoint& p = file.points[k];
        SyntheticSite s;
        char name[8];
        std::snprintf(name, sizeof name, "P%03d", int(k + 1));
        s.name = name;
        Triple g = cartesianToGeodetic(p.xyz, net.semiMajorAxis, net.inverseFlattening);
        s.latitude = g[0];
        s.longitude = g[1];
        s.height = g[2];
        if (p.fixed)
            fixSite(s);
        net.sites.push_back(s);
    }
    // The program weighs a vector by the north, east and up sigmas of its covariance in the
    // reference point's frame, so those sigmas carry everything the file's covariance tells it.
    // The data set holds no vector sigma below kMinimumSigma: a smaller Cartesian sigma would be
    // raised on writing and change the weights the program derives (166 vectors here have an
    // east sigma just under a millimetre). Holding the local sigmas at that floor keeps every
    // Cartesian sigma at or above it, so the program weighs exactly what the reference weighs.
    auto axes = localAxes(net.referenceLatitude, net.referenceLongitude);
    for (const NetworkVector& v : file.vectors) {
        SyntheticVector sv;
        sv.from = index[v.from];
        sv.to = index[v.to];
        sv.observed = v.delta;
        for (int c = 0; c < 3; ++c) {
            double variance = 0;
            for (int r = 0; r < 3; ++r)
                variance += axes[r][c] * axes[r][c] * v.variance[r];
            sv.localSigma[c] = std::max(std::sqrt(variance), kMinimumSigma);
        }
        net.vectors.push_back(sv);
    }
    return true;
}

bool loadNationalNetwork(const std::string& path, SyntheticNetwork& network, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot read " + path;
        return false;
    }
    std::stringstream buffer;
    buffer << in.rdbuf();
    NetworkFile file;
    return parseNetworkFile(buffer.str(), file, problem) &&
           buildNationalNetwork(std::move(file), network, problem);
}

}  // namespace torvek::testing

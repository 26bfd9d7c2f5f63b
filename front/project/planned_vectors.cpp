#include "front/project/planned_vectors.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "geodesy/covariance_matrix.h"

namespace torvek::front {
namespace {

constexpr double kMetresPerMillimetre = 1.0e-3;
constexpr double kPartsPerMillion = 1.0e-6;

// One part, "5mm+1ppm": terms joined by '+', blanks removed before.
bool parseTerm(const std::string& part, SigmaTerm& term, std::string& error) {
    if (part.empty()) {
        error = "each part needs a length (mm or m) and/or a ppm, as in 5mm+1ppm";
        return false;
    }
    SigmaTerm read;
    bool lengthSeen = false, ppmSeen = false;
    std::size_t at = 0;
    while (at < part.size()) {
        const char* start = part.c_str() + at;
        char* end = nullptr;
        const double value = std::strtod(start, &end);
        if (end == start || !std::isfinite(value) || value < 0 || *start == '+' || *start == '-') {
            error = "expected a number from 0 at \"" + part.substr(at) + "\"";
            return false;
        }
        at += static_cast<std::size_t>(end - start);
        const std::size_t plus = part.find('+', at);
        const std::string unit = part.substr(at, plus == std::string::npos ? plus : plus - at);
        if (unit == "ppm" && !ppmSeen) {
            read.ppm = value;
            ppmSeen = true;
        } else if ((unit == "mm" || unit == "m") && !lengthSeen) {
            read.constant = unit == "mm" ? value * kMetresPerMillimetre : value;
            lengthSeen = true;
        } else {
            error = "unit \"" + unit + "\" after " +
                    std::string(start, static_cast<std::size_t>(end - start)) +
                    " (one length in mm or m and one ppm)";
            return false;
        }
        at = plus == std::string::npos ? part.size() : plus + 1;
        if (plus != std::string::npos && at == part.size()) {
            error = "a '+' with nothing after it";
            return false;
        }
    }
    if (read.constant > kLargestSigmaConstant || read.ppm > kLargestSigmaPpm) {
        error = "a sigma beyond 1 m or 1000 ppm looks like a unit slip";
        return false;
    }
    if (read.constant == 0 && read.ppm == 0) {
        error = "a sigma of 0 gives an infinite weight";
        return false;
    }
    term = read;
    return true;
}

std::string termText(const SigmaTerm& term) {
    char text[64];
    std::snprintf(text, sizeof text, "%gmm+%gppm", term.constant / kMetresPerMillimetre, term.ppm);
    return text;
}

}  // namespace

bool parseSigmaModel(const std::string& text, SigmaModel& model, std::string& error) {
    std::string compact;
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    const std::size_t comma = compact.find(',');
    if (comma == std::string::npos || compact.find(',', comma + 1) != std::string::npos) {
        error =
            "a sigma model is two parts, horizontal and vertical: \"5mm+1ppm,10mm+2ppm\", not \"" +
            text + "\"";
        return false;
    }
    SigmaModel read;
    std::string why;
    if (!parseTerm(compact.substr(0, comma), read.horizontal, why)) {
        error = "horizontal sigma: " + why;
        return false;
    }
    if (!parseTerm(compact.substr(comma + 1), read.vertical, why)) {
        error = "vertical sigma: " + why;
        return false;
    }
    model = read;
    return true;
}

std::string sigmaModelText(const SigmaModel& model) {
    return termText(model.horizontal) + "," + termText(model.vertical);
}

Matrix3 sigmaModelCovariance(const SigmaModel& model, double length, double latitude,
                             double longitude) {
    const auto sigma = [length](const SigmaTerm& t) {
        return t.constant + t.ppm * kPartsPerMillion * length;
    };
    const double h = sigma(model.horizontal), v = sigma(model.vertical);
    const Matrix3 local = {h * h, 0, 0, 0, h * h, 0, 0, 0, v * v};
    // congruence(R, Q) = R Q R^T with R's columns north, east, up in X, Y, Z.
    return congruence(localFrameMatrixAt(latitude, longitude), local);
}

}  // namespace torvek::front

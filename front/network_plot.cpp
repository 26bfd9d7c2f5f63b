#include "front/network_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "front/report_rendering.h"
#include "front/text_format.h"

namespace torvek::front {
namespace {

constexpr double kWidth = 900.0;
constexpr double kHeight = 720.0;
constexpr double kMargin = 70.0;
constexpr double kLegendHeight = 70.0;
// The largest ellipse is drawn about this share of the smaller side of the plot.
constexpr double kEllipseShare = 0.06;

std::string lengthText(double metres) {
    char text[32];
    if (metres >= 1000.0) {
        std::snprintf(text, sizeof text, "%g km", metres / 1000.0);
    } else if (metres >= 1.0) {
        std::snprintf(text, sizeof text, "%g m", metres);
    } else {
        std::snprintf(text, sizeof text, "%g mm", metres * kMillimetresPerMetre);
    }
    return text;
}

// A round factor in plain digits ("20000", "0.5"), never in exponent form.
std::string factorText(double factor) {
    char text[48];
    std::snprintf(text, sizeof text, factor >= 1.0 ? "%.0f" : "%.6g", factor);
    return text;
}

}  // namespace

double horizontalConfidenceFactor(double confidencePercent) {
    if (!(confidencePercent > 0.0 && confidencePercent < 100.0)) {
        return 1.0;
    }
    return std::sqrt(-2.0 * std::log(1.0 - confidencePercent / 100.0));
}

double roundDown125(double value) {
    if (!(value > 0.0) || !std::isfinite(value)) {
        return 1.0;
    }
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {5.0, 2.0, 1.0}) {
        if (step * power <= value * (1.0 + 1e-12)) {
            return step * power;
        }
    }
    return power;
}

std::string renderNetworkSvg(const NetworkResults& r) {
    std::string out;
    append(out,
           "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"network-plot\" viewBox=\"0 0 %.0f "
           "%.0f\" width=\"%.0f\" height=\"%.0f\" font-family=\"Helvetica,Arial,sans-serif\" "
           "font-size=\"12\">\n",
           kWidth, kHeight, kWidth, kHeight);
    out += "<title>Network plot</title>\n";
    append(out, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n", kWidth,
           kHeight);

    if (r.sites.empty()) {
        append(out, "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">No sites</text>\n</svg>\n",
               kWidth / 2, kHeight / 2);
        return out;
    }

    double minE = std::numeric_limits<double>::max(), maxE = -minE;
    double minN = minE, maxN = -minE;
    for (const SiteResult& s : r.sites) {
        if (!std::isfinite(s.east) || !std::isfinite(s.north)) {
            continue;
        }
        minE = std::min(minE, s.east);
        maxE = std::max(maxE, s.east);
        minN = std::min(minN, s.north);
        maxN = std::max(maxN, s.north);
    }
    if (minE > maxE) {
        minE = maxE = minN = maxN = 0.0;
    }
    const double plotWidth = kWidth - 2 * kMargin;
    const double plotHeight = kHeight - 2 * kMargin - kLegendHeight;
    const double spanE = std::max(maxE - minE, 1.0);
    const double spanN = std::max(maxN - minN, 1.0);
    const double scale = std::min(plotWidth / spanE, plotHeight / spanN);  // pixels per metre
    const double centreE = (minE + maxE) / 2, centreN = (minN + maxN) / 2;
    auto x = [&](double east) { return kWidth / 2 + (east - centreE) * scale; };
    auto y = [&](double north) { return kMargin + plotHeight / 2 - (north - centreN) * scale; };
    auto finite = [](const SiteResult& s) {
        return std::isfinite(s.east) && std::isfinite(s.north);
    };

    // Vectors first, so that sites and ellipses lie on top.
    out += "<g class=\"vectors\">\n";
    for (const VectorResult& v : r.vectors) {
        if (v.fromIndex < 0 || v.toIndex < 0) {
            continue;
        }
        const SiteResult& a = r.sites[static_cast<std::size_t>(v.fromIndex)];
        const SiteResult& b = r.sites[static_cast<std::size_t>(v.toIndex)];
        if (!finite(a) || !finite(b)) {
            continue;
        }
        const char* style = v.flagged    ? "stroke=\"#d62728\" stroke-width=\"2.8\""
                            : v.adjusted ? "stroke=\"#6b8fbf\" stroke-width=\"1.2\""
                                         : "stroke=\"#b0b0b0\" stroke-width=\"1\" "
                                           "stroke-dasharray=\"5,4\"";
        append(out, "<line class=\"%s\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" %s/>\n",
               v.flagged ? "vector flagged" : "vector", x(a.east), y(a.north), x(b.east),
               y(b.north), style);
    }
    for (const VectorResult& v : r.vectors) {
        if (!v.flagged || v.fromIndex < 0 || v.toIndex < 0) {
            continue;
        }
        const SiteResult& a = r.sites[static_cast<std::size_t>(v.fromIndex)];
        const SiteResult& b = r.sites[static_cast<std::size_t>(v.toIndex)];
        // Names go in whole, outside the formatted part, however long they are.
        append(out,
               "<text class=\"flag-label\" x=\"%.2f\" y=\"%.2f\" fill=\"#d62728\" "
               "font-size=\"11\" text-anchor=\"middle\">",
               (x(a.east) + x(b.east)) / 2, (y(a.north) + y(b.north)) / 2 - 4);
        out += escapeHtml(v.from) + "-" + escapeHtml(v.to);
        append(out, " w=%.1f</text>\n", v.largestNormalized);
    }
    out += "</g>\n";

    // Ellipses: enlarged by one round factor for the whole plot, so that they can be compared.
    const double k = horizontalConfidenceFactor(r.confidenceLevel);
    double largest = 0.0;
    for (const SiteResult& s : r.sites) {
        if (s.adjusted && finite(s)) {
            largest = std::max({largest, k * s.sigmaNorth, k * s.sigmaEast});
        }
    }
    double enlargement = 0.0;
    if (largest > 0.0 && std::isfinite(largest)) {
        const double target = kEllipseShare * std::min(plotWidth, plotHeight);
        enlargement = roundDown125(target / (largest * scale));
        out += "<g class=\"ellipses\">\n";
        for (const SiteResult& s : r.sites) {
            if (!s.adjusted || !finite(s) || (s.sigmaNorth <= 0 && s.sigmaEast <= 0)) {
                continue;
            }
            const double rx = k * s.sigmaEast * scale * enlargement;
            const double ry = k * s.sigmaNorth * scale * enlargement;
            append(out,
                   "<ellipse class=\"ellipse\" cx=\"%.2f\" cy=\"%.2f\" rx=\"%.2f\" ry=\"%.2f\" "
                   "fill=\"#2ca02c\" fill-opacity=\"0.12\" stroke=\"#2ca02c\" "
                   "stroke-width=\"1.2\"/>\n",
                   x(s.east), y(s.north), rx, ry);
            append(out,
                   "<text class=\"ellipse-label\" x=\"%.2f\" y=\"%.2f\" fill=\"#1d6b1d\" "
                   "font-size=\"10\">%.1f&#215;%.1f mm</text>\n",
                   x(s.east) + std::max(rx, 6.0) + 3, y(s.north) + 14,
                   k * s.sigmaEast * kMillimetresPerMetre, k * s.sigmaNorth * kMillimetresPerMetre);
        }
        out += "</g>\n";
    }

    out += "<g class=\"sites\">\n";
    for (const SiteResult& s : r.sites) {
        if (!finite(s)) {
            continue;
        }
        const double cx = x(s.east), cy = y(s.north);
        const char* colour = s.adjusted ? "#1f3f7a" : "#9a9a9a";
        if (s.control()) {
            append(out,
                   "<polygon class=\"site control\" points=\"%.2f,%.2f %.2f,%.2f %.2f,%.2f\" "
                   "fill=\"%s\" stroke=\"%s\" stroke-width=\"1.5\"/>\n",
                   cx, cy - 8, cx - 7, cy + 5, cx + 7, cy + 5, s.fixedAny() ? colour : "#ffffff",
                   colour);
        } else {
            append(out, "<circle class=\"site\" cx=\"%.2f\" cy=\"%.2f\" r=\"4\" fill=\"%s\"/>\n",
                   cx, cy, colour);
        }
        append(out,
               "<text class=\"site-label\" x=\"%.2f\" y=\"%.2f\" fill=\"%s\" "
               "font-weight=\"bold\">",
               cx + 8, cy - 7, colour);
        out += escapeHtml(s.name) + "</text>\n";
    }
    out += "</g>\n";

    // Scale bar of the map and, beside it, of the enlarged ellipses.
    const double legendTop = kHeight - kMargin - kLegendHeight + 30;
    const double barMetres = roundDown125(plotWidth / 4 / scale);
    const double barPixels = barMetres * scale;
    append(out,
           "<g class=\"scale\"><line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
           "stroke=\"#000\" stroke-width=\"3\"/><text x=\"%.1f\" y=\"%.1f\">%s</text></g>\n",
           kMargin, legendTop, kMargin + barPixels, legendTop, kMargin, legendTop - 6,
           lengthText(barMetres).c_str());
    if (enlargement > 0.0) {
        const double ellipseBar = roundDown125(largest);
        const double pixels = ellipseBar * scale * enlargement;
        const double left = kMargin + barPixels + 60;
        append(out,
               "<g class=\"ellipse-scale\"><line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
               "stroke=\"#2ca02c\" stroke-width=\"3\"/><text x=\"%.1f\" y=\"%.1f\" "
               "fill=\"#1d6b1d\">%s on the ellipses (%.1f %% confidence, enlarged %s times)"
               "</text></g>\n",
               left, legendTop, left + pixels, legendTop, left, legendTop - 6,
               lengthText(ellipseBar).c_str(), r.confidenceLevel, factorText(enlargement).c_str());
    }
    const double keyTop = legendTop + 28;
    append(out,
           "<g class=\"legend\" font-size=\"11\">"
           "<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\" fill=\"#1f3f7a\"/>"
           "<text x=\"%.1f\" y=\"%.1f\">fixed control</text>"
           "<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\" fill=\"#fff\" stroke=\"#1f3f7a\"/>"
           "<text x=\"%.1f\" y=\"%.1f\">constrained</text>"
           "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"#1f3f7a\"/>"
           "<text x=\"%.1f\" y=\"%.1f\">site</text>"
           "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#6b8fbf\" "
           "stroke-width=\"1.2\"/><text x=\"%.1f\" y=\"%.1f\">vector</text>"
           "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#d62728\" "
           "stroke-width=\"2.8\"/><text x=\"%.1f\" y=\"%.1f\">normalized residual above tau "
           "(%.2f)</text></g>\n",
           kMargin, keyTop - 8, kMargin - 7, keyTop + 5, kMargin + 7, keyTop + 5,  //
           kMargin + 12, keyTop + 4,                                               //
           kMargin + 110, keyTop - 8, kMargin + 103, keyTop + 5, kMargin + 117, keyTop + 5,
           kMargin + 122, keyTop + 4,                                                //
           kMargin + 215, keyTop, kMargin + 224, keyTop + 4,                         //
           kMargin + 270, keyTop, kMargin + 300, keyTop, kMargin + 306, keyTop + 4,  //
           kMargin + 370, keyTop, kMargin + 400, keyTop, kMargin + 406, keyTop + 4,
           r.tauCriticalValue);
    append(out,
           "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" font-size=\"11\">north up; "
           "local frame of %.6f, %.6f</text>\n",
           kWidth - 10, 18.0, r.referenceLatitude, r.referenceLongitude);
    out += "</svg>\n";
    return out;
}

}  // namespace torvek::front

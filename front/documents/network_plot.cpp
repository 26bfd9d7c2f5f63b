#include "front/documents/network_plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <set>
#include <unordered_map>
#include <vector>

#include "front/documents/report_rendering.h"
#include "front/text/text_format.h"

namespace torvek::front {
namespace {

// The picture: a framed map above a legend band. Sites keep an inset from the frame, so that
// their labels fit inside it.
constexpr double kWidth = 900.0;
constexpr double kHeight = 720.0;
constexpr double kSide = 20.0;        // left and right of the frame
constexpr double kMapTop = 36.0;      // below the note on the map's frame
constexpr double kMapBottom = 585.0;  // above the legend
constexpr double kInset = 55.0;       // from the frame to the outermost sites
constexpr double kLegendTop = 610.0;
constexpr double kLegendRowHeight = 24.0;
constexpr double kLegendGap = 22.0;  // between two legend entries
constexpr double kLegendSymbolWidth = 30.0;
// Scale bars are round lengths drawn between 0.4 and 1 times this many pixels.
constexpr double kScaleBarPixels = 120.0;

// Ellipses: a semi-axis of kNominalSemiAxis is drawn at about kEllipseShare of the map's shorter
// side; the largest one may take kLargestEllipseShare of it before the factor goes down.
constexpr double kNominalSemiAxis = 0.01;  // metres: 1 cm, a good GPS network's 95 % ellipse
constexpr double kEllipseShare = 0.06;
constexpr double kLargestEllipseShare = 0.25;

// Font sizes (pixels) and the average advance of a character of the sans-serif font as a share
// of its size, generous so that estimated label boxes cover the drawn text.
constexpr double kSiteFont = 12.0;
constexpr double kEllipseFont = 10.0;
constexpr double kFlagFont = 11.0;
constexpr double kLegendFont = 11.0;
constexpr double kAdvanceShare = 0.62;
// The legend's texts are plain words, narrower on average than names and numbers.
constexpr double kLegendAdvanceShare = 0.52;

// Costs of a label position: what it hides, most to least serious.
constexpr double kOutsideCost = 1000.0;      // reaches out of the map's frame
constexpr double kLabelOverlapCost = 40.0;   // covers another label
constexpr double kMarkerOverlapCost = 20.0;  // covers a site's symbol
constexpr double kNearOtherCost = 30.0;      // lies nearer another site than its own
constexpr double kCrossingCost = 10.0;       // a vector line runs through it
constexpr double kEllipseOverlapCost = 1.0;  // covers part of an ellipse
constexpr double kPreferenceCost = 0.01;     // per step down the list of candidate positions

// Up to this many sites every site is named; a larger network names a site only where its name
// hides no other label, symbol or site, so that the names shown stay legible (at 232 sites the
// national network's names already lay on top of each other).
constexpr std::size_t kAlwaysNamedSites = 100;
// Beyond this many sites (the most the dense engine adjusts) a plot is drawn for density: small
// symbols, no ellipses, the plain vectors merged into paths.
constexpr std::size_t kDensePlotSites = 500;
// Up to this many flagged vectors every one is labelled; beyond, the worst are labelled first and
// the rest only where their label hides nothing (the national network's 1,673 flagged vectors
// otherwise cover its plot with labels on top of each other).
constexpr std::size_t kAlwaysLabelledFlags = 100;
// Beyond kAlwaysLabelledFlags, once this many flagged vectors in a row (worst first) found no room
// for their label, the plot is full and the rest are not tried: on the national network 7 labels
// find room among 1,673 flagged vectors (8 when every one is tried), and trying the last thousand
// took half the plot's time.
constexpr std::size_t kFlagLabelTriesWithoutRoom = 200;
// A larger network's site symbols are drawn this much smaller, so that the vectors between them
// still show.
constexpr double kSmallSymbolScale = 0.3;

constexpr double kRadiansPerDegree = M_PI / 180.0;

constexpr double kSiteLabelGap = 9.0;  // from a site's centre to its label
constexpr double kMarkerHalfSize = 8.0;

const char* const kVectorColour = "#6b8fbf";
const char* const kFlaggedColour = "#d62728";
const char* const kUnusedColour = "#b0b0b0";
const char* const kSiteColour = "#1f3f7a";
const char* const kIdleSiteColour = "#9a9a9a";
const char* const kEllipseColour = "#2ca02c";
const char* const kEllipseTextColour = "#1d6b1d";
// Labels get a white outline, so that they stay legible where a line passes behind them.
const char* const kHalo = "stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\"";

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

// A factor in plain digits ("20000", "0.5"), never in exponent form.
std::string factorText(double factor) {
    char text[48];
    std::snprintf(text, sizeof text, factor >= 1.0 ? "%.0f" : "%.6g", factor);
    return text;
}

double textWidth(const std::string& text, double fontSize) {
    return static_cast<double>(text.size()) * fontSize * kAdvanceShare;
}

struct Box {
    double left = 0, top = 0, right = 0, bottom = 0;
};

struct Segment {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct Point {
    double x = 0, y = 0;
};

// The square of the distance from a point to the nearest point of a box (0 inside it).
double squaredDistance(const Point& p, const Box& b) {
    const double dx = std::max({b.left - p.x, 0.0, p.x - b.right});
    const double dy = std::max({b.top - p.y, 0.0, p.y - b.bottom});
    return dx * dx + dy * dy;
}

bool overlaps(const Box& a, const Box& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool inside(const Box& inner, const Box& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

// Whether the segment passes through the box: the segment clipped to the box's four sides
// (Liang and Barsky) keeps a piece.
bool crosses(const Segment& s, const Box& b) {
    const double dx = s.x2 - s.x1, dy = s.y2 - s.y1;
    double low = 0.0, high = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {s.x1 - b.left, b.right - s.x1, s.y1 - b.top, b.bottom - s.y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) {
                return false;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            low = std::max(low, t);
        } else {
            high = std::min(high, t);
        }
        if (low > high) {
            return false;
        }
    }
    return true;
}

// Boxes sorted into the cells of a uniform grid over the map, so that the things a label could
// hide are found among those in the cells it covers, not by walking every line and site: placing
// the labels of a large network stays linear in its size. A box lies in every cell it touches;
// coordinates beyond the grid fall into its border cells, which keeps every overlap found.
class BoxGrid {
  public:
    // `frame`: the area most boxes lie in (pixels); `expected`: about how many boxes will come.
    // Lines are best held in small cells: a label then meets only the lines that pass near it.
    BoxGrid(const Box& frame, std::size_t expected, bool lines = false)
        : origin_{frame.left, frame.top} {
        const double width = std::max(frame.right - frame.left, 1.0);
        const double height = std::max(frame.bottom - frame.top, 1.0);
        // About kBoxesPerCell boxes per cell, and cells no smaller than a label's height.
        const double cells =
            std::clamp(static_cast<double>(expected) / kBoxesPerCell, 1.0, kMostCells);
        cell_ = lines ? kLineCell : std::max(std::sqrt(width * height / cells), kSmallestCell);
        columns_ = static_cast<int>(std::ceil(width / cell_)) + 1;
        rows_ = static_cast<int>(std::ceil(height / cell_)) + 1;
        cells_.resize(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_));
    }

    void insert(std::uint32_t item, const Box& box) {
        forCells(box, [&](std::vector<std::uint32_t>& cell) { cell.push_back(item); });
    }

    // A line goes only into the cells it passes through: long lines then fill few cells. Column
    // by column, the piece of the line inside the column spans a range of rows.
    void insert(std::uint32_t item, const Segment& s) {
        const double left = std::min(s.x1, s.x2), right = std::max(s.x1, s.x2);
        const int c0 = column(left), c1 = column(right);
        if (c0 == c1 || !std::isfinite(s.y2 - s.y1) || !std::isfinite(s.x2 - s.x1)) {
            insert(item, Box{left, std::min(s.y1, s.y2), right, std::max(s.y1, s.y2)});
            return;
        }
        const double slope = (s.y2 - s.y1) / (s.x2 - s.x1);
        for (int c = c0; c <= c1; ++c) {
            // The column's x range, widened a little so that rounding never loses a cell; the
            // border columns reach as far as the line does.
            const double x0 = c == c0 ? left : origin_.x + c * cell_ - kSlack;
            const double x1 = c == c1 ? right : origin_.x + (c + 1) * cell_ + kSlack;
            const double ya = s.y1 + slope * (std::clamp(x0, left, right) - s.x1);
            const double yb = s.y1 + slope * (std::clamp(x1, left, right) - s.x1);
            const int r1 = row(std::max(ya, yb) + kSlack);
            for (int r = row(std::min(ya, yb) - kSlack); r <= r1; ++r) {
                cells_[static_cast<std::size_t>(r) * columns_ + c].push_back(item);
            }
        }
    }

    // Calls visit(item) once for every item whose cells meet those of `box`, until it returns
    // false.
    template <typename Visit>
    void visit(const Box& box, Visit&& visit) {
        ++stamp_;
        bool more = true;
        forCells(box, [&](std::vector<std::uint32_t>& cell) {
            for (std::size_t k = 0; more && k < cell.size(); ++k) {
                const std::uint32_t item = cell[k];
                if (item >= seen_.size()) {
                    seen_.resize(item + 1, 0);
                }
                if (seen_[item] != stamp_) {
                    seen_[item] = stamp_;
                    more = visit(item);
                }
            }
        });
    }

  private:
    static constexpr double kBoxesPerCell = 4.0;
    static constexpr double kMostCells = 1 << 20;
    static constexpr double kSmallestCell = 16.0;
    static constexpr double kLineCell = 16.0;  // a label's height
    static constexpr double kSlack = 1e-6;     // pixels

    int column(double x) const { return index(x - origin_.x, columns_); }
    int row(double y) const { return index(y - origin_.y, rows_); }
    int index(double offset, int count) const {
        const double t = std::floor(offset / cell_);
        // NaN and far-off positions fall into the border cells (the clamp is monotonic, so
        // boxes that meet still share a cell).
        return !(t > 0.0) ? 0 : t >= count - 1 ? count - 1 : static_cast<int>(t);
    }

    template <typename Action>
    void forCells(const Box& box, Action&& action) {
        const int c1 = column(box.right), r1 = row(box.bottom);
        for (int r = row(box.top); r <= r1; ++r) {
            for (int c = column(box.left); c <= c1; ++c) {
                action(cells_[static_cast<std::size_t>(r) * columns_ + c]);
            }
        }
    }

    Point origin_;
    double cell_ = 1.0;
    int columns_ = 1, rows_ = 1;
    std::vector<std::vector<std::uint32_t>> cells_;
    std::vector<std::uint32_t> seen_;
    std::uint32_t stamp_ = 0;
};

// Where a label goes, and whether it hides something that makes it hard to read: another label,
// a site's symbol, a place nearer another site, or the map's frame.
struct LabelPlace {
    Box box;
    bool crowded = false;
};

// A hash of a line's ends, for finding the lines drawn more than once.
struct SegmentHash {
    std::size_t operator()(const std::array<double, 4>& ends) const {
        std::size_t h = 0;
        for (const double e : ends) {
            h = h * 1000003u ^ std::hash<double>{}(e);
        }
        return h;
    }
};

// Places labels one after another, each where it hides least of the lines, symbols, ellipses and
// labels already there.
class LabelPlacer {
  public:
    // `labels`: about how many labels will be placed.
    LabelPlacer(Box frame, std::vector<Segment> lines, std::vector<Point> sites,
                std::vector<Box> ellipses, std::size_t labels)
        : frame_(frame),
          lines_(std::move(lines)),
          sites_(std::move(sites)),
          ellipses_(std::move(ellipses)),
          lineGrid_(frame, lines_.size(), true),
          siteGrid_(frame, sites_.size()),
          ellipseGrid_(frame, ellipses_.size()),
          labelGrid_(frame, labels) {
        // Vectors observed more than once are drawn as one line: each is held once, with the
        // number of vectors it stands for.
        std::unordered_map<std::array<double, 4>, std::size_t, SegmentHash> seen;
        seen.reserve(lines_.size());
        for (const Segment& l : lines_) {
            const auto [at, added] = seen.try_emplace({l.x1, l.y1, l.x2, l.y2}, unique_.size());
            if (!added) {
                ++unique_[at->second].count;
                continue;
            }
            const Box bounds{std::min(l.x1, l.x2), std::min(l.y1, l.y2), std::max(l.x1, l.x2),
                             std::max(l.y1, l.y2)};
            lineGrid_.insert(static_cast<std::uint32_t>(unique_.size()), l);
            unique_.push_back({l, bounds, 1});
        }
        for (std::size_t i = 0; i < sites_.size(); ++i) {
            siteGrid_.insert(static_cast<std::uint32_t>(i),
                             Box{sites_[i].x, sites_[i].y, sites_[i].x, sites_[i].y});
        }
        for (std::size_t i = 0; i < ellipses_.size(); ++i) {
            ellipseGrid_.insert(static_cast<std::uint32_t>(i), ellipses_[i]);
        }
    }

    // The cheapest of `candidates` (listed best first); take() it if it is drawn. `owner`: the
    // position in the site list of the site the label names, or -1 for a label of no site.
    // `onlyRoomy`: the caller draws no crowded label, so a place stops counting once crowded.
    LabelPlace choose(const std::vector<Box>& candidates, int owner = -1, bool onlyRoomy = false) {
        std::size_t best = 0;
        double bestCost = std::numeric_limits<double>::max();
        const double ceiling = onlyRoomy ? kCrowdedCost : bestCost;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const double preference = kPreferenceCost * static_cast<double>(i);
            const double enough = std::min(bestCost - preference, ceiling);
            const double c = cost(candidates[i], owner, enough) + preference;
            if (c < bestCost) {
                bestCost = c;
                best = i;
            }
        }
        return {candidates[best], bestCost >= kCrowdedCost};
    }

    // A drawn label: later ones avoid it.
    void take(const Box& box) {
        labelGrid_.insert(static_cast<std::uint32_t>(placed_.size()), box);
        placed_.push_back(box);
    }

  private:
    // Hiding another label, a symbol or lying nearer another site costs at least this much.
    static constexpr double kCrowdedCost = kMarkerOverlapCost;

    // What the box hides; the count stops once it reaches `enough` (a better place is known).
    double cost(const Box& box, int owner, double enough) {
        double c = inside(box, frame_) ? 0.0 : kOutsideCost;
        labelGrid_.visit(box, [&](std::uint32_t i) {
            c += overlaps(box, placed_[i]) ? kLabelOverlapCost : 0.0;
            return c < enough;
        });
        if (c < enough) {
            c += siteCost(box, owner, enough - c);
        }
        if (c >= enough) {
            return c;
        }
        lineGrid_.visit(box, [&](std::uint32_t i) {
            const DrawnLine& line = unique_[i];
            const Box& b = line.bounds;
            // Most lines lie off the box: their bounds tell at once.
            if ((overlaps(b, box) || b.left == b.right || b.top == b.bottom) &&
                crosses(line.segment, box)) {
                c += kCrossingCost * static_cast<double>(line.count);
            }
            return c < enough;
        });
        ellipseGrid_.visit(box, [&](std::uint32_t i) {
            c += overlaps(box, ellipses_[i]) ? kEllipseOverlapCost : 0.0;
            return true;
        });
        return c;
    }

    // The symbols the box covers, and the sites nearer to it than its own (a label read as
    // another site's is worse than one that hides a line). A label of no site is near no site of
    // its own, which costs every place alike and so is left out. The count stops at `enough`.
    double siteCost(const Box& box, int owner, double enough) {
        double c = 0.0;
        const double own =
            owner >= 0 ? squaredDistance(sites_[static_cast<std::size_t>(owner)], box) : 0.0;
        // Sites whose symbol the box covers, or nearer to it than its own site.
        const double reach = std::max(std::sqrt(own), kMarkerHalfSize);
        const Box near{box.left - reach, box.top - reach, box.right + reach, box.bottom + reach};
        siteGrid_.visit(near, [&](std::uint32_t i) {
            const Point& p = sites_[i];
            const Box marker{p.x - kMarkerHalfSize, p.y - kMarkerHalfSize, p.x + kMarkerHalfSize,
                             p.y + kMarkerHalfSize};
            c += overlaps(box, marker) ? kMarkerOverlapCost : 0.0;
            if (owner >= 0 && static_cast<int>(i) != owner && squaredDistance(p, box) < own) {
                c += kNearOtherCost;
            }
            return c < enough;
        });
        return c;
    }

    Box frame_;
    struct DrawnLine {
        Segment segment;
        Box bounds;
        std::size_t count;  // vectors drawn on it
    };
    std::vector<Segment> lines_;
    std::vector<DrawnLine> unique_;
    std::vector<Point> sites_;  // centres of the site symbols; a site without position is far off
    std::vector<Box> ellipses_;
    std::vector<Box> placed_;
    BoxGrid lineGrid_, siteGrid_, ellipseGrid_, labelGrid_;
};

// Positions for a label of `width` x `height` around a site at (x, y): beside, above and below it
// in eight directions, near first, then farther out.
std::vector<Box> aroundPoint(double x, double y, double width, double height) {
    std::vector<Box> boxes;
    for (double gap : {kSiteLabelGap, 2.5 * kSiteLabelGap}) {
        const double lefts[3] = {x + gap, x - width / 2, x - gap - width};
        const double tops[3] = {y - gap - height, y - height / 2, y + gap};
        // Right of the site first, as a reader expects, then left, then straight above or below.
        const int order[8][2] = {{0, 0}, {0, 1}, {0, 2}, {2, 0}, {2, 1}, {2, 2}, {1, 0}, {1, 2}};
        for (const auto& o : order) {
            boxes.push_back({lefts[o[0]], tops[o[1]], lefts[o[0]] + width, tops[o[1]] + height});
        }
    }
    return boxes;
}

// Positions for a label of `width` x `height` beside a line, wholly on one side of it, at points
// along it from the middle outwards.
std::vector<Box> besideLine(const Segment& s, double width, double height) {
    std::vector<Box> boxes;
    const double length = std::hypot(s.x2 - s.x1, s.y2 - s.y1);
    const double nx = length > 0 ? -(s.y2 - s.y1) / length : 0.0;
    const double ny = length > 0 ? (s.x2 - s.x1) / length : -1.0;
    // The distance from the centre of a box to its farthest corner along the normal, plus a gap.
    const double clearance = std::fabs(nx) * width / 2 + std::fabs(ny) * height / 2 + 3.0;
    for (double t : {0.5, 0.38, 0.62, 0.26, 0.74}) {
        const double px = s.x1 + t * (s.x2 - s.x1), py = s.y1 + t * (s.y2 - s.y1);
        for (double side : {-1.0, 1.0}) {
            const double cx = px + side * clearance * nx, cy = py + side * clearance * ny;
            boxes.push_back({cx - width / 2, cy - height / 2, cx + width / 2, cy + height / 2});
        }
    }
    return boxes;
}

// The legend: entries laid out left to right, wrapping to a new row.
class Legend {
  public:
    explicit Legend(std::string& out) : out_(out) {}

    // Adds an entry whose symbol, `symbolWidth` wide, `draw` paints from (x, centre y).
    void entry(const std::string& text, const std::function<void(double, double)>& draw,
               double symbolWidth = kLegendSymbolWidth) {
        const double width =
            symbolWidth + 6 + static_cast<double>(text.size()) * kLegendFont * kLegendAdvanceShare;
        if (x_ + width > kWidth - kSide && x_ > kSide + 10) {
            x_ = kSide + 10;
            y_ += kLegendRowHeight;
        }
        draw(x_, y_);
        append(out_, "<text x=\"%.1f\" y=\"%.1f\">%s</text>\n", x_ + symbolWidth + 6, y_ + 4,
               escapeHtml(text).c_str());
        x_ += width + kLegendGap;
    }

    void newRow() {
        x_ = kSide + 10;
        y_ += kLegendRowHeight;
    }

  private:
    std::string& out_;
    double x_ = kSide + 10;
    double y_ = kLegendTop + kLegendRowHeight / 2;
};

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

double chooseEllipseEnlargement(double pixelsPerMetre, double plotSide, double largestSemiAxis) {
    if (!(pixelsPerMetre > 0.0) || !(plotSide > 0.0)) {
        return 1.0;
    }
    double factor = roundDown125(kEllipseShare * plotSide / (kNominalSemiAxis * pixelsPerMetre));
    const double largestPixels = largestSemiAxis * pixelsPerMetre * factor;
    if (std::isfinite(largestPixels) && largestPixels > kLargestEllipseShare * plotSide) {
        factor = roundDown125(kLargestEllipseShare * plotSide / (largestSemiAxis * pixelsPerMetre));
    }
    return factor;
}

namespace {

bool finite(const SiteResult& s) {
    return std::isfinite(s.east) && std::isfinite(s.north);
}

// Where a point of the local frame lands on the map: north up, the network's bounds centred.
struct MapScale {
    double scale = 1.0;  // pixels per metre
    double centreE = 0, centreN = 0, middleY = 0;
    double plotWidth = 0, plotHeight = 0;  // the area the sites may take, pixels

    double x(double east) const { return kWidth / 2 + (east - centreE) * scale; }
    double y(double north) const { return middleY - (north - centreN) * scale; }
};

// The vector lines as drawn, and which of them are flagged.
struct VectorLayer {
    std::vector<Segment> lines;
    std::vector<std::size_t> flaggedLines;  // positions in `lines` of the flagged vectors
    std::vector<const VectorResult*> flaggedVectors;
};

// The ellipses as drawn: their bounds and labels (by site), their confidence and enlargement.
struct EllipseLayer {
    bool drawn = false;
    double enlargement = 1.0;
    double confidencePercent = 0.0;
    std::vector<Box> boxes;
    std::vector<std::string> texts;  // by site; empty for a site without an ellipse
};

void openSvg(std::string& out) {
    append(out,
           "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"network-plot\" viewBox=\"0 0 %.0f "
           "%.0f\" width=\"%.0f\" height=\"%.0f\" font-family=\"Helvetica,Arial,sans-serif\" "
           "font-size=\"12\">\n",
           kWidth, kHeight, kWidth, kHeight);
    out += "<title>Network plot</title>\n";
    append(out, "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n", kWidth,
           kHeight);
}

void drawFrame(std::string& out, const Box& frame) {
    append(out,
           "<rect class=\"map-frame\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" "
           "fill=\"none\" stroke=\"#d0d0d0\"/>\n",
           frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
    append(out,
           "<clipPath id=\"map-area\"><rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>"
           "</clipPath>\n",
           frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top);
}

MapScale mapScale(const NetworkResults& r, const Box& frame) {
    double minE = std::numeric_limits<double>::max(), maxE = -minE;
    double minN = minE, maxN = -minE;
    for (const SiteResult& s : r.sites) {
        if (!finite(s)) {
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
    MapScale m;
    m.plotWidth = frame.right - frame.left - 2 * kInset;
    m.plotHeight = frame.bottom - frame.top - 2 * kInset;
    const double spanE = std::max(maxE - minE, 1.0);
    const double spanN = std::max(maxN - minN, 1.0);
    m.scale = std::min(m.plotWidth / spanE, m.plotHeight / spanN);
    m.centreE = (minE + maxE) / 2;
    m.centreN = (minN + maxN) / 2;
    m.middleY = (frame.top + frame.bottom) / 2;
    return m;
}

// A large network's plain vectors (adjusted, not flagged) go into paths of this many lines each,
// in pixels to 0.1, each line once: thin lines a fraction of a pixel apart look the same, and the
// picture of 178,000 vectors takes 4 MB instead of 27 MB.
constexpr std::size_t kLinesPerPath = 2000;

// Appends a plain vector to the open path of a large network's plot, opening a new path when the
// last is full; `drawn` holds the lines already drawn, at the path's precision.
void pathLine(std::string& out, const Segment& l, std::size_t& inPath,
              std::set<std::array<long, 4>>& drawn) {
    constexpr double kTenths = 10.0;
    std::array<long, 4> key{std::lround(l.x1 * kTenths), std::lround(l.y1 * kTenths),
                            std::lround(l.x2 * kTenths), std::lround(l.y2 * kTenths)};
    if (std::make_pair(key[0], key[1]) > std::make_pair(key[2], key[3])) {
        key = {key[2], key[3], key[0], key[1]};
    }
    if (!drawn.insert(key).second) {
        return;
    }
    if (inPath == kLinesPerPath) {
        out += "\"/>\n";
        inPath = 0;
    }
    if (inPath == 0) {
        append(out, "<path class=\"vectors\" fill=\"none\" stroke=\"%s\" stroke-width=\"1.2\" d=\"",
               kVectorColour);
    }
    // "M%.1f %.1fL%.1f %.1f"
    const char* const separators[4] = {"M", " ", "L", " "};
    const double ends[4] = {l.x1, l.y1, l.x2, l.y2};
    for (int k = 0; k < 4; ++k) {
        out += separators[k];
        appendFixed(out, ends[k], 1);
    }
    ++inPath;
}

VectorLayer drawVectors(std::string& out, const NetworkResults& r, const MapScale& m) {
    VectorLayer layer;
    const bool merged = r.sites.size() > kDensePlotSites;
    std::size_t inPath = 0;
    std::set<std::array<long, 4>> drawn;
    // The merged paths first, the single lines (flagged ones among them) on top.
    std::string paths, lines;
    const std::string flaggedStyle =
        formatText("stroke=\"%s\" stroke-width=\"2.8\"", kFlaggedColour);
    const std::string adjustedStyle =
        formatText("stroke=\"%s\" stroke-width=\"1.2\"", kVectorColour);
    const std::string unusedStyle =
        formatText("stroke=\"%s\" stroke-width=\"1\" stroke-dasharray=\"5,4\"", kUnusedColour);
    for (const VectorResult& v : r.vectors) {
        if (v.fromIndex < 0 || v.toIndex < 0) {
            continue;
        }
        const SiteResult& a = r.sites[static_cast<std::size_t>(v.fromIndex)];
        const SiteResult& b = r.sites[static_cast<std::size_t>(v.toIndex)];
        if (!finite(a) || !finite(b)) {
            continue;
        }
        const Segment line{m.x(a.east), m.y(a.north), m.x(b.east), m.y(b.north)};
        if (v.flagged) {
            layer.flaggedLines.push_back(layer.lines.size());
            layer.flaggedVectors.push_back(&v);
        }
        layer.lines.push_back(line);
        if (merged && v.adjusted && !v.flagged) {
            pathLine(paths, line, inPath, drawn);
            continue;
        }
        const std::string& style = v.flagged    ? flaggedStyle
                                   : v.adjusted ? adjustedStyle
                                                : unusedStyle;
        // <line class="..." x1="%.2f" y1="%.2f" x2="%.2f" y2="%.2f" STYLE/>, written number by
        // number (appendFixed): a plot of thousands of vectors spent most of its time in printf.
        lines += v.flagged ? "<line class=\"vector flagged\"" : "<line class=\"vector\"";
        const char* const names[4] = {" x1=\"", "\" y1=\"", "\" x2=\"", "\" y2=\""};
        const double ends[4] = {line.x1, line.y1, line.x2, line.y2};
        for (int k = 0; k < 4; ++k) {
            lines += names[k];
            appendFixed(lines, ends[k], 2);
        }
        lines += "\" ";
        lines += style;
        lines += "/>\n";
    }
    if (inPath > 0) {
        paths += "\"/>\n";
    }
    out += "<g class=\"vectors\">\n" + paths + lines + "</g>\n";
    return layer;
}

// The enlargement the options ask for, or the one chosen for the largest semi-axis (metres).
double enlargementFor(const PlotOptions& options, const MapScale& m, double largest) {
    return options.ellipseEnlargement > 0.0 && std::isfinite(options.ellipseEnlargement)
               ? options.ellipseEnlargement
               : chooseEllipseEnlargement(m.scale, std::min(m.plotWidth, m.plotHeight), largest);
}

// Decides whether a layer whose largest semi-axis is `largest` (metres) is drawn, and how much its
// ellipses are enlarged; when it is, opens its group in `out`. False when there is nothing to draw.
bool openEllipseLayer(std::string& out, EllipseLayer& layer, const MapScale& m,
                      const PlotOptions& options, double largest) {
    layer.drawn = largest > 0.0 && std::isfinite(largest);
    layer.enlargement = enlargementFor(options, m, largest);
    if (layer.drawn) {
        out += "<g class=\"ellipses\" clip-path=\"url(#map-area)\">\n";
    }
    return layer.drawn;
}

// The classic ellipses: axes north and east, semi-axes the sigmas times the confidence factor.
EllipseLayer drawAxisEllipses(std::string& out, const NetworkResults& r, const MapScale& m,
                              const PlotOptions& options) {
    EllipseLayer layer;
    layer.confidencePercent = r.confidenceLevel;
    layer.texts.resize(r.sites.size());
    const double k = horizontalConfidenceFactor(r.confidenceLevel);
    double largest = 0.0;
    for (const SiteResult& s : r.sites) {
        if (s.adjusted && finite(s)) {
            largest = std::max({largest, k * s.sigmaNorth, k * s.sigmaEast});
        }
    }
    if (!openEllipseLayer(out, layer, m, options, largest)) {
        return layer;
    }
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const SiteResult& s = r.sites[i];
        if (!s.adjusted || !finite(s) || (s.sigmaNorth <= 0 && s.sigmaEast <= 0)) {
            continue;
        }
        const double rx = k * s.sigmaEast * m.scale * layer.enlargement;
        const double ry = k * s.sigmaNorth * m.scale * layer.enlargement;
        const double cx = m.x(s.east), cy = m.y(s.north);
        append(out,
               "<ellipse class=\"ellipse\" cx=\"%.2f\" cy=\"%.2f\" rx=\"%.2f\" ry=\"%.2f\" "
               "fill=\"%s\" fill-opacity=\"0.12\" stroke=\"%s\" stroke-width=\"1.2\"/>\n",
               cx, cy, rx, ry, kEllipseColour, kEllipseColour);
        layer.boxes.push_back({cx - rx, cy - ry, cx + rx, cy + ry});
        layer.texts[i] = formatText("%.1f&#215;%.1f mm", k * s.sigmaEast * kMillimetresPerMetre,
                                    k * s.sigmaNorth * kMillimetresPerMetre);
    }
    out += "</g>\n";
    return layer;
}

// Whether a site has an oriented ellipse to draw.
bool hasOrientedEllipse(const SiteResult& s, const OrientedEllipse& e) {
    return finite(s) && std::isfinite(e.semiMajor) && std::isfinite(e.semiMinor) &&
           std::isfinite(e.azimuth) && e.semiMajor > 0.0;
}

// The oriented ellipses of PlotOptions::siteEllipses. SVG draws rx along the screen's x axis
// (east, azimuth 90) and turns clockwise on the screen for a positive angle, as an azimuth
// does: the semi-major axis drawn as rx points to its azimuth after a turn of azimuth - 90.
EllipseLayer drawOrientedEllipses(std::string& out, const NetworkResults& r, const MapScale& m,
                                  const PlotOptions& options) {
    const std::vector<OrientedEllipse>& ellipses = options.siteEllipses;
    EllipseLayer layer;
    layer.texts.resize(r.sites.size());
    double largest = 0.0;
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        if (hasOrientedEllipse(r.sites[i], ellipses[i])) {
            largest = std::max(largest, ellipses[i].semiMajor);
            layer.confidencePercent = ellipses[i].confidence * 100.0;
        }
    }
    if (!openEllipseLayer(out, layer, m, options, largest)) {
        return layer;
    }
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const OrientedEllipse& e = ellipses[i];
        if (!hasOrientedEllipse(r.sites[i], e)) {
            continue;
        }
        const double a = e.semiMajor * m.scale * layer.enlargement;
        const double b = e.semiMinor * m.scale * layer.enlargement;
        const double cx = m.x(r.sites[i].east), cy = m.y(r.sites[i].north);
        append(out,
               "<ellipse class=\"ellipse oriented\" cx=\"%.2f\" cy=\"%.2f\" rx=\"%.2f\" "
               "ry=\"%.2f\" transform=\"rotate(%.2f %.2f %.2f)\" fill=\"%s\" fill-opacity=\"0.12\" "
               "stroke=\"%s\" stroke-width=\"1.2\"/>\n",
               cx, cy, a, b, e.azimuth - 90.0, cx, cy, kEllipseColour, kEllipseColour);
        // The bounds of the turned ellipse: its half-extents east and north.
        const double t = e.azimuth * kRadiansPerDegree;
        const double hx = std::hypot(a * std::sin(t), b * std::cos(t));
        const double hy = std::hypot(a * std::cos(t), b * std::sin(t));
        layer.boxes.push_back({cx - hx, cy - hy, cx + hx, cy + hy});
        layer.texts[i] = formatText("%.1f&#215;%.1f mm", e.semiMajor * kMillimetresPerMetre,
                                    e.semiMinor * kMillimetresPerMetre);
    }
    out += "</g>\n";
    return layer;
}

// `scale`: of the symbols, 1 for their full size.
std::vector<Point> drawSites(std::string& out, const NetworkResults& r, const MapScale& m,
                             double scale) {
    // Sites without a position stand far outside the picture, where they disturb no label.
    const Point nowhere{-1e9, -1e9};
    std::vector<Point> centres;
    out += "<g class=\"sites\">\n";
    for (const SiteResult& s : r.sites) {
        if (!finite(s)) {
            centres.push_back(nowhere);
            continue;
        }
        const double cx = m.x(s.east), cy = m.y(s.north);
        centres.push_back({cx, cy});
        const char* colour = s.adjusted ? kSiteColour : kIdleSiteColour;
        if (s.control()) {
            append(out,
                   "<polygon class=\"site control\" points=\"%.2f,%.2f %.2f,%.2f %.2f,%.2f\" "
                   "fill=\"%s\" stroke=\"%s\" stroke-width=\"1.5\"/>\n",
                   cx, cy - 8 * scale, cx - 7 * scale, cy + 5 * scale, cx + 7 * scale,
                   cy + 5 * scale, s.fixedAny() ? colour : "#ffffff", colour);
        } else {
            append(out, "<circle class=\"site\" cx=\"%.2f\" cy=\"%.2f\" r=\"%g\" fill=\"%s\"/>\n",
                   cx, cy, 4 * scale, colour);
        }
    }
    out += "</g>\n";
    return centres;
}

// The flagged vectors in the order their labels are placed: as they come when every one is
// labelled, else worst first (by the absolute normalized residual), so that those get the room.
std::vector<std::size_t> flagLabelOrder(const VectorLayer& vectors, bool dropCrowded) {
    std::vector<std::size_t> order(vectors.flaggedVectors.size());
    for (std::size_t f = 0; f < order.size(); ++f) {
        order[f] = f;
    }
    if (dropCrowded) {
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return std::fabs(vectors.flaggedVectors[a]->signedLargestNormalized) >
                   std::fabs(vectors.flaggedVectors[b]->signedLargestNormalized);
        });
    }
    return order;
}

// "FROM-TO w=+1.2": the vector and its largest normalized residual with its sign.
std::string flagLabelText(const VectorResult& v) {
    return v.from + "-" + v.to + " w=" + formatNumber("%+.1f", v.signedLargestNormalized);
}

// Returns how many flagged vectors were left unlabelled for want of room.
std::size_t drawFlagLabels(std::string& out, const VectorLayer& vectors, LabelPlacer& placer) {
    const bool dropCrowded = vectors.flaggedVectors.size() > kAlwaysLabelledFlags;
    std::size_t labelled = 0;
    std::size_t withoutRoom = 0;  // tried in a row without room
    for (const std::size_t f : flagLabelOrder(vectors, dropCrowded)) {
        const VectorResult& v = *vectors.flaggedVectors[f];
        const std::string text = flagLabelText(v);
        const LabelPlace place =
            placer.choose(besideLine(vectors.lines[vectors.flaggedLines[f]],
                                     textWidth(text, kFlagFont), kFlagFont + 2),
                          -1, dropCrowded);
        if (dropCrowded && place.crowded) {
            if (++withoutRoom == kFlagLabelTriesWithoutRoom) {
                break;
            }
            continue;
        }
        withoutRoom = 0;
        ++labelled;
        const Box box = place.box;
        placer.take(box);
        append(out,
               "<text class=\"flag-label\" x=\"%.2f\" y=\"%.2f\" fill=\"%s\" font-size=\"%.0f\" "
               "text-anchor=\"middle\" %s>%s</text>\n",
               (box.left + box.right) / 2, box.bottom - 3, kFlaggedColour, kFlagFont, kHalo,
               escapeHtml(text).c_str());
    }
    return vectors.flaggedVectors.size() - labelled;
}

// Returns how many sites were left unnamed for want of room.
std::size_t drawSiteLabels(std::string& out, const NetworkResults& r, const MapScale& m,
                           const EllipseLayer& ellipses, LabelPlacer& placer) {
    const bool dropCrowded = r.sites.size() > kAlwaysNamedSites;
    std::size_t unnamed = 0;
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const SiteResult& s = r.sites[i];
        if (!finite(s)) {
            continue;
        }
        // The semi-axes' text holds only digits and the entity of the multiplication sign, which
        // takes one place.
        const std::string& second = ellipses.texts[i];
        const std::size_t secondLength = second.empty() ? 0 : second.size() - 5;
        const double width =
            std::max(textWidth(s.name, kSiteFont),
                     static_cast<double>(secondLength) * kEllipseFont * kAdvanceShare);
        const double height = kSiteFont + (second.empty() ? 2.0 : kEllipseFont + 3.0);
        const LabelPlace place =
            placer.choose(aroundPoint(m.x(s.east), m.y(s.north), width, height),
                          static_cast<int>(i), dropCrowded);
        if (dropCrowded && place.crowded) {
            ++unnamed;
            continue;
        }
        const Box box = place.box;
        placer.take(box);
        append(out,
               "<text class=\"site-label\" x=\"%.2f\" y=\"%.2f\" fill=\"%s\" font-weight=\"bold\" "
               "%s>%s</text>\n",
               box.left, box.top + kSiteFont - 1, s.adjusted ? kSiteColour : kIdleSiteColour, kHalo,
               escapeHtml(s.name).c_str());
        if (!second.empty()) {
            append(out,
                   "<text class=\"ellipse-label\" x=\"%.2f\" y=\"%.2f\" fill=\"%s\" "
                   "font-size=\"%.0f\" %s>%s</text>\n",
                   box.left, box.top + kSiteFont + kEllipseFont + 1, kEllipseTextColour,
                   kEllipseFont, kHalo, second.c_str());
        }
    }
    return unnamed;
}

// The legend's symbols: sites, the ellipse, and the vectors' line styles.
void legendSymbols(std::string& out, Legend& legend, const NetworkResults& r,
                   double confidencePercent) {
    legend.entry("fixed control", [&](double lx, double ly) {
        append(out, "<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\" fill=\"%s\"/>\n", lx + 15,
               ly - 8, lx + 8, ly + 5, lx + 22, ly + 5, kSiteColour);
    });
    legend.entry("constrained control", [&](double lx, double ly) {
        append(out,
               "<polygon points=\"%.1f,%.1f %.1f,%.1f %.1f,%.1f\" fill=\"#ffffff\" stroke=\"%s\" "
               "stroke-width=\"1.5\"/>\n",
               lx + 15, ly - 8, lx + 8, ly + 5, lx + 22, ly + 5, kSiteColour);
    });
    for (const char* colour : {kSiteColour, kIdleSiteColour}) {
        legend.entry(colour == kSiteColour ? "site" : "site not adjusted",
                     [&](double lx, double ly) {
                         append(out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"4\" fill=\"%s\"/>\n",
                                lx + 15, ly, colour);
                     });
    }
    legend.entry(formatText("confidence ellipse (%.1f %%)", confidencePercent),
                 [&](double lx, double ly) {
                     append(out,
                            "<ellipse cx=\"%.1f\" cy=\"%.1f\" rx=\"12\" ry=\"6\" fill=\"%s\" "
                            "fill-opacity=\"0.12\" stroke=\"%s\" stroke-width=\"1.2\"/>\n",
                            lx + 15, ly, kEllipseColour, kEllipseColour);
                 });
    legend.newRow();
    auto lineSymbol = [&](const char* colour, double width, const char* dash) {
        return [&out, colour, width, dash](double lx, double ly) {
            append(out,
                   "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                   "stroke-width=\"%.1f\"%s/>\n",
                   lx, ly, lx + kLegendSymbolWidth, ly, colour, width, dash);
        };
    };
    legend.entry("vector", lineSymbol(kVectorColour, 1.2, ""));
    legend.entry(
        formatText("vector above tau (%.2f), labelled with its largest normalized residual",
                   r.tauCriticalValue),
        lineSymbol(kFlaggedColour, 2.8, ""));
    legend.entry("vector not adjusted",
                 lineSymbol(kUnusedColour, 1.0, " stroke-dasharray=\"5,4\""));
    legend.newRow();
}

// The legend's scales: of the map, and of the ellipses when they are drawn.
void legendScales(std::string& out, Legend& legend, double scale, const EllipseLayer& ellipses) {
    const double barMetres = roundDown125(kScaleBarPixels / scale);
    const double barPixels = barMetres * scale;
    legend.entry(
        lengthText(barMetres) + " on the map",
        [&](double lx, double ly) {
            append(out,
                   "<line class=\"scale-bar\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" "
                   "stroke=\"#000\" stroke-width=\"3\"/>\n",
                   lx, ly, lx + barPixels, ly);
        },
        barPixels);
    if (!ellipses.drawn) {
        return;
    }
    const double enlargement = ellipses.enlargement;
    const double ellipseBar = roundDown125(kScaleBarPixels / (scale * enlargement));
    const double ellipsePixels = ellipseBar * scale * enlargement;
    legend.entry(
        lengthText(ellipseBar) + formatText(" on the ellipses (%.1f %% confidence, enlarged %s "
                                            "times)",
                                            ellipses.confidencePercent,
                                            factorText(enlargement).c_str()),
        [&](double lx, double ly) {
            append(out,
                   "<line class=\"ellipse-scale\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" "
                   "y2=\"%.1f\" stroke=\"%s\" stroke-width=\"3\"/>\n",
                   lx, ly, lx + ellipsePixels, ly, kEllipseColour);
        },
        ellipsePixels);
}

}  // namespace

std::string renderNetworkSvg(const NetworkResults& r, const PlotOptions& options) {
    std::string out;
    openSvg(out);
    if (r.sites.empty()) {
        append(out, "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\">No sites</text>\n</svg>\n",
               kWidth / 2, kHeight / 2);
        return out;
    }
    const Box frame{kSide, kMapTop, kWidth - kSide, kMapBottom};
    drawFrame(out, frame);
    const MapScale m = mapScale(r, frame);
    // Vectors first, so that ellipses, sites and labels lie on top.
    const VectorLayer vectors = drawVectors(out, r, m);
    // Ellipses: one factor for the whole plot (see chooseEllipseEnlargement).
    // A large network's ellipses would cover the map: their sizes stay in the labels' second
    // line, the ellipses themselves are left out.
    const bool large = r.sites.size() > kDensePlotSites;
    std::string leftOut;
    EllipseLayer ellipses = options.siteEllipses.size() == r.sites.size()
                                ? drawOrientedEllipses(large ? leftOut : out, r, m, options)
                                : drawAxisEllipses(large ? leftOut : out, r, m, options);
    if (large) {
        ellipses.drawn = false;
        ellipses.boxes.clear();
    }
    const std::vector<Point> centres = drawSites(out, r, m, large ? kSmallSymbolScale : 1.0);
    // Labels: those of the flagged vectors first, then the sites with their ellipses' semi-axes.
    LabelPlacer placer(frame, vectors.lines, centres, ellipses.boxes,
                       centres.size() + vectors.flaggedVectors.size());
    out += "<g class=\"labels\">\n";
    const std::size_t unlabelled = drawFlagLabels(out, vectors, placer);
    const std::size_t unnamed = drawSiteLabels(out, r, m, ellipses, placer);
    out += "</g>\n";
    // The legend below the map: every symbol and line style, then the two scales.
    out += "<g class=\"legend\" font-size=\"11\">\n";
    Legend legend(out);
    legendSymbols(out, legend, r, ellipses.confidencePercent);
    legendScales(out, legend, m.scale, ellipses);
    out += "</g>\n";
    // A large network names only the sites with room for their names: the note says how many.
    std::string namedNote = unnamed > 0 ? formatText("; %zu of %zu sites named where there is room",
                                                     r.sites.size() - unnamed, r.sites.size())
                                        : std::string();
    if (unlabelled > 0) {
        const std::size_t flagged = vectors.flaggedVectors.size();
        namedNote += formatText("; %zu of %zu flagged vectors labelled where there is room",
                                flagged - unlabelled, flagged);
    }
    if (large) {
        namedNote += "; ellipses left out at this density";
    }
    append(out,
           "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" font-size=\"11\">north up; "
           "local frame of %.6f, %.6f%s</text>\n",
           kWidth - kSide, 24.0, r.referenceLatitude, r.referenceLongitude, namedNote.c_str());
    out += "</svg>\n";
    return out;
}

}  // namespace torvek::front

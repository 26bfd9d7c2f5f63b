#include "front/documents/grid_coordinates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "front/documents/proj_library.h"
#include "front/text/text_format.h"
#include "geodesy/ellipsoid.h"

namespace torvek::front {
namespace {

// Two ellipsoids count as one when both semi-axes agree to a millimetre: positions on them then
// differ by less than that (WGS 84 and GRS 80 differ by 0.1 mm in the semi-minor axis).
constexpr double kSameAxisTolerance = 0.001;
// The longest request taken: a WKT or PROJJSON text of a projected system is a few KiB.
constexpr std::size_t kLongestRequest = 64 * 1024;
// UTM: sixty zones six degrees wide, numbered eastwards from 180 degrees west; EPSG numbers the
// WGS 84 zones 32601..32660 north of the equator and 32701..32760 south of it.
constexpr double kUtmZoneWidth = 6.0;
constexpr int kUtmZoneCount = 60;
constexpr int kUtmNorthCodeBase = 32600;
constexpr int kUtmSouthCodeBase = 32700;
// Degrees added on every side of the network's bounding box before PROJ chooses a transformation
// for it (about 5 km): a network of one point still has an area, and a whole network uses one
// transformation, the one best there.
constexpr double kAreaMargin = 0.05;
// What a ballpark transformation may be off by. It leaves out the change of datum: between the
// frames of GPS on one ellipsoid (ITRF, WGS 84, ETRS89, NAD83, GDA94 and their kin) that change is
// up to about 2 m (NAD83 against ITRF, plate motion over decades); between classical datums on
// other ellipsoids it reaches several hundred metres (the shifts of ED50 or Tokyo to WGS 84).
constexpr const char* kBallparkErrorSameEllipsoid = "about 2 m";
constexpr const char* kBallparkErrorOtherEllipsoid = "several hundred metres";
// Half the length of the short lines (metres) whose grid images give scale and convergence: long
// enough that the grid coordinates' rounding (far below a micrometre) does not show, short enough
// that the projection's curvature does not (its effect goes with the square of the length).
constexpr double kDifferenceStep = 5.0;
// Grids do not reach the poles: no meridian direction is defined there.
constexpr double kHighestLatitude = 90.0 - 1e-6;

struct ContextDeleter {
    void operator()(PJ_CONTEXT* context) const { proj().proj_context_destroy(context); }
};
struct ObjectDeleter {
    void operator()(PJ* object) const { proj().proj_destroy(object); }
};
struct ListDeleter {
    void operator()(PJ_OBJ_LIST* list) const { proj().proj_list_destroy(list); }
};
struct FactoryDeleter {
    void operator()(PJ_OPERATION_FACTORY_CONTEXT* factory) const {
        proj().proj_operation_factory_context_destroy(factory);
    }
};
using ContextPointer = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using ObjectPointer = std::unique_ptr<PJ, ObjectDeleter>;
using ListPointer = std::unique_ptr<PJ_OBJ_LIST, ListDeleter>;

// PROJ's reason for the last failure as " (reason)", or nothing when it gives none worth showing.
std::string lastError(PJ_CONTEXT* context) {
    const int code = proj().proj_context_errno(context);
    const char* text = code != 0 ? proj().proj_context_errno_string(context, code) : nullptr;
    if (text == nullptr || std::strncmp(text, "Unknown error", 13) == 0) {
        return "";
    }
    return std::string(" (") + text + ")";
}

// Control characters have no place in a system's name or definition; refusing them keeps them
// out of messages too.
bool plausibleRequest(const std::string& request) {
    if (request.empty() || request.size() > kLongestRequest) {
        return false;
    }
    for (unsigned char c : request) {
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') {
            return false;
        }
    }
    return true;
}

std::string shortened(const std::string& request) {
    constexpr std::size_t kShown = 60;
    return request.size() <= kShown ? request : request.substr(0, kShown) + "...";
}

double wrappedLongitude(double longitude) {
    return std::remainder(longitude, 360.0);
}

// The semi-axes (a, b) of the ellipsoid of a CRS; false when PROJ cannot say.
bool ellipsoidAxes(PJ_CONTEXT* context, const PJ* crs, double& a, double& b) {
    ObjectPointer ellipsoid(proj().proj_get_ellipsoid(context, crs));
    if (!ellipsoid) {
        return false;
    }
    int computed = 0;
    double inverseFlattening = 0.0;
    return proj().proj_ellipsoid_get_parameters(context, ellipsoid.get(), &a, &b, &computed,
                                                &inverseFlattening) != 0;
}

// How the axes of a projected system lie: their names, which of the two points east or west
// (PROJ gives coordinates in the system's own axis order), and whether they point west or south.
struct AxisLayout {
    std::string eastName = "Easting";
    std::string northName = "Northing";
    int eastIndex = 0;
    double eastSign = 1.0;   // -1 for an axis pointing west
    double northSign = 1.0;  // -1 for one pointing south
};

AxisLayout axisLayout(PJ_CONTEXT* context, const PJ* crs) {
    AxisLayout layout;
    ObjectPointer cs(proj().proj_crs_get_coordinate_system(context, crs));
    if (!cs || proj().proj_cs_get_axis_count(context, cs.get()) < 2) {
        return layout;
    }
    std::string names[2], directions[2];
    for (int i = 0; i < 2; ++i) {
        const char* name = nullptr;
        const char* direction = nullptr;
        if (proj().proj_cs_get_axis_info(context, cs.get(), i, &name, nullptr, &direction, nullptr,
                                         nullptr, nullptr, nullptr) == 0) {
            return layout;
        }
        names[i] = name != nullptr ? name : "";
        directions[i] = direction != nullptr ? direction : "";
    }
    const bool northFirst = directions[0] == "north" || directions[0] == "south";
    layout.eastIndex = northFirst ? 1 : 0;
    layout.eastName = names[layout.eastIndex];
    layout.northName = names[1 - layout.eastIndex];
    layout.eastSign = directions[layout.eastIndex] == "west" ? -1.0 : 1.0;
    layout.northSign = directions[1 - layout.eastIndex] == "south" ? -1.0 : 1.0;
    return layout;
}

// The network's bounding box, widened by kAreaMargin, for which PROJ chooses a transformation.
void setArea(PJ_CONTEXT* context, PJ_OPERATION_FACTORY_CONTEXT* factory,
             const NetworkPlace& place) {
    const double halfLongitude =
        std::min(180.0, std::max(0.0, place.halfLongitudeSpan)) + kAreaMargin;
    const double halfLatitude = std::max(0.0, place.halfLatitudeSpan) + kAreaMargin;
    const double middle = wrappedLongitude(place.middleLongitude);
    // West may exceed east: PROJ takes such a box as one across the 180th meridian.
    const double west = wrappedLongitude(middle - halfLongitude);
    const double east = wrappedLongitude(middle + halfLongitude);
    const double south = std::max(-90.0, place.middleLatitude - halfLatitude);
    const double north = std::min(90.0, place.middleLatitude + halfLatitude);
    proj().proj_operation_factory_context_set_area_of_interest(context, factory, west, south, east,
                                                               north);
    proj().proj_operation_factory_context_set_spatial_criterion(
        context, factory, PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
}

// The first operation in PROJ's order of preference from `source` to `target` (for the network's
// area when `place` is given) whose grids, if any, are at hand. Null when there is none.
ObjectPointer firstUsable(PJ_CONTEXT* context, const PJ* source, const PJ* target,
                          const NetworkPlace* place) {
    std::unique_ptr<PJ_OPERATION_FACTORY_CONTEXT, FactoryDeleter> factory(
        proj().proj_create_operation_factory_context(context, nullptr));
    if (!factory) {
        return nullptr;
    }
    proj().proj_operation_factory_context_set_grid_availability_use(
        context, factory.get(), PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    if (place != nullptr && std::isfinite(place->middleLatitude) &&
        std::isfinite(place->middleLongitude)) {
        setArea(context, factory.get(), *place);
    }
    ListPointer operations(proj().proj_create_operations(context, source, target, factory.get()));
    if (!operations) {
        return nullptr;
    }
    const int count = proj().proj_list_get_count(operations.get());
    for (int i = 0; i < count; ++i) {
        ObjectPointer operation(proj().proj_list_get(context, operations.get(), i));
        if (operation &&
            proj().proj_coordoperation_is_instantiable(context, operation.get()) != 0) {
            return operation;
        }
    }
    return nullptr;
}

// The best operation PROJ knows from `source` to `target` for the network's area, whose grids (if
// any) are at hand; outside the area a system is made for (a network projected into the next UTM
// zone, say) the best one anywhere. Null when there is none.
ObjectPointer bestTransformation(PJ_CONTEXT* context, const PJ* source, const PJ* target,
                                 const NetworkPlace& place) {
    ObjectPointer operation = firstUsable(context, source, target, &place);
    return operation ? std::move(operation) : firstUsable(context, source, target, nullptr);
}

// An operation's name without the axis order changes PROJ lists among its steps (" + "
// between them), which say nothing about the datum.
std::string withoutAxisSwaps(std::string name) {
    constexpr const char* kSeparator = " + ";
    constexpr const char* kSwap = "axis order change";
    constexpr const char* kNormalized = " (with axis order normalized for visualization)";
    for (std::size_t at = name.find(kNormalized); at != std::string::npos;
         at = name.find(kNormalized)) {
        name.erase(at, std::strlen(kNormalized));
    }
    std::string kept;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find(kSeparator, start), name.size());
        const std::string step = name.substr(start, end - start);
        if (step.rfind(kSwap, 0) != 0) {
            kept += (kept.empty() ? "" : kSeparator) + step;
        }
        start = end + std::strlen(kSeparator);
    }
    return kept.empty() ? name : kept;
}

// The system a request names: itself, or for "utm" the UTM zone of the network's middle. Empty,
// with `error` set, when the request cannot name one.
std::string gridDefinition(const std::string& request, const NetworkPlace& place,
                           std::string& error) {
    if (!plausibleRequest(request)) {
        error = "the coordinate system \"" + shortened(request) +
                "\" is empty, too long or holds control characters";
        return {};
    }
    if (request != kUtmRequest) {
        return request;
    }
    if (!(std::isfinite(place.middleLatitude) && std::isfinite(place.middleLongitude))) {
        error = "no UTM zone can be chosen: the network has no position";
        return {};
    }
    return utmCode(place.middleLatitude, place.middleLongitude);
}

// The projected system of `definition` in `crs`, and in `bound` the system bound to WGS 84 by a
// +towgs84 that it came in (which carries its transformation along), if any. False, with `error`
// set, when PROJ does not know it or it is no projected system.
bool openProjectedSystem(PJ_CONTEXT* context, const std::string& definition, ObjectPointer& crs,
                         ObjectPointer& bound, std::string& error) {
    crs.reset(proj().proj_create(context, definition.c_str()));
    if (!crs) {
        error = "PROJ does not know the coordinate system \"" + shortened(definition) + "\"" +
                lastError(context);
        return false;
    }
    if (proj().proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS) {
        bound = std::move(crs);
        crs.reset(proj().proj_get_source_crs(context, bound.get()));
    }
    if (!crs || proj().proj_get_type(crs.get()) != PJ_TYPE_PROJECTED_CRS) {
        error = "\"" + shortened(definition) +
                "\" is not a projected coordinate system (one with eastings and northings)";
        return false;
    }
    return true;
}

// The datums of two CRS are the same one (a datum ensemble counts as its own datum).
bool sameDatum(PJ_CONTEXT* context, const PJ* one, const PJ* other) {
    ObjectPointer first(proj().proj_crs_get_datum_forced(context, one));
    ObjectPointer second(proj().proj_crs_get_datum_forced(context, other));
    return first && second &&
           proj().proj_is_equivalent_to_with_ctx(context, first.get(), second.get(),
                                                 PJ_COMP_EQUIVALENT) != 0;
}

bool sameEllipsoid(double a, double b, double otherA, double otherB) {
    return std::fabs(a - otherA) <= kSameAxisTolerance &&
           std::fabs(b - otherB) <= kSameAxisTolerance;
}

// "NAME (AUTHORITY:CODE)" of a CRS, or its name alone.
std::string nameWithCode(const PJ* crs) {
    const char* name = proj().proj_get_name(crs);
    const char* authority = proj().proj_get_id_auth_name(crs, 0);
    const char* code = proj().proj_get_id_code(crs, 0);
    std::string text = name != nullptr ? name : "unnamed system";
    if (authority != nullptr && code != nullptr) {
        text += std::string(" (") + authority + ":" + code + ")";
    }
    return text;
}

// The geographic frame `definition` in `frame`; false, with `error` set, when PROJ does not know it
// or it is no geographic system.
bool openGeographic(PJ_CONTEXT* context, const std::string& definition, ObjectPointer& frame,
                    std::string& error) {
    if (!plausibleRequest(definition)) {
        error = "the frame \"" + shortened(definition) +
                "\" is empty, too long or holds control characters";
        return false;
    }
    frame.reset(proj().proj_create(context, definition.c_str()));
    if (!frame) {
        error =
            "PROJ does not know the frame \"" + shortened(definition) + "\"" + lastError(context);
        return false;
    }
    const PJ_TYPE type = proj().proj_get_type(frame.get());
    if (type != PJ_TYPE_GEOGRAPHIC_2D_CRS && type != PJ_TYPE_GEOGRAPHIC_3D_CRS) {
        error = "\"" + shortened(definition) +
                "\" is not a geographic coordinate system (one of latitudes and longitudes)";
        return false;
    }
    return true;
}

// The frame the positions are in, as PROJ opened it. The default frame gives way to the grid
// system's own geographic system when the data set lies on that system's ellipsoid and not on
// WGS 84's: such positions are projected as they are. A frame named on another ellipsoid than the
// data set's is refused: the adjusted coordinates cannot be in it.
bool openSourceFrame(PJ_CONTEXT* context, const CoordinateFrame& frame, const PJ* gridBase,
                     const NetworkPlace& place, ObjectPointer& source, std::string& error) {
    const std::string definition = frame.crs.empty() ? kDefaultFrame : frame.crs;
    if (!openGeographic(context, definition, source, error)) {
        return false;
    }
    double a = 0.0, b = 0.0, gridA = 0.0, gridB = 0.0;
    const double ourB = place.semiMajorAxis * (1.0 - 1.0 / place.inverseFlattening);
    if (!ellipsoidAxes(context, source.get(), a, b) ||
        !ellipsoidAxes(context, gridBase, gridA, gridB)) {
        error = "PROJ gives no ellipsoid for the frame or the grid system";
        return false;
    }
    if (sameEllipsoid(a, b, place.semiMajorAxis, ourB)) {
        return true;
    }
    if (frame.crs.empty()) {
        if (sameEllipsoid(gridA, gridB, place.semiMajorAxis, ourB)) {
            source.reset(proj().proj_clone(context, gridBase));
        }
        return source != nullptr;
    }
    error = formatText(
        "the frame \"%s\" lies on an ellipsoid of semi-major axis %.3f m, the "
        "data set on one of %.3f m: the adjusted coordinates cannot be in it",
        shortened(definition).c_str(), a, place.semiMajorAxis);
    return false;
}

// The operation from the positions (longitude, latitude in `source`) to the grid: the projection
// alone on the same datum, else PROJ's best transformation for the network's area (through the
// +towgs84 of a bound system, when it came with one). Null when PROJ has none.
ObjectPointer gridTransformation(PJ_CONTEXT* context, const PJ* source, const PJ* crs,
                                 const PJ* bound, const NetworkPlace& place) {
    ObjectPointer longitudeFirst(proj().proj_normalize_for_visualization(context, source));
    if (!longitudeFirst) {
        return nullptr;
    }
    const PJ* target = bound != nullptr ? bound : crs;
    return bestTransformation(context, longitudeFirst.get(), target, place);
}

// How the positions reach the grid: frame, epoch, operation, accuracy and whether it is a ballpark
// one, with what such one may be off by.
void describeOperation(PJ_CONTEXT* context, const PJ* source, const PJ* gridBase, const PJ* toGrid,
                       double epoch, GridSystemDescription& description) {
    description.frame = nameWithCode(source);
    description.epoch = epoch;
    const char* operation = proj().proj_get_name(toGrid);
    description.operation = withoutAxisSwaps(operation != nullptr ? operation : "");
    description.accuracy = proj().proj_coordoperation_get_accuracy(context, toGrid);
    description.datumChange = !sameDatum(context, source, gridBase);
    description.ballpark =
        proj().proj_coordoperation_has_ballpark_transformation(context, toGrid) != 0 ||
        description.operation.find("Ballpark") != std::string::npos ||
        description.operation.find("ballpark") != std::string::npos;
    double a = 0.0, b = 0.0, gridA = 0.0, gridB = 0.0;
    const bool oneEllipsoid = ellipsoidAxes(context, source, a, b) &&
                              ellipsoidAxes(context, gridBase, gridA, gridB) &&
                              sameEllipsoid(a, b, gridA, gridB);
    description.ballparkError =
        oneEllipsoid ? kBallparkErrorSameEllipsoid : kBallparkErrorOtherEllipsoid;
}

// What the documents say of an opened system: its code and name, axes and zone.
GridSystemDescription describeSystem(const PJ* crs, const std::string& definition,
                                     const AxisLayout& axes, bool chosenZone) {
    GridSystemDescription description;
    const char* authority = proj().proj_get_id_auth_name(crs, 0);
    const char* code = proj().proj_get_id_code(crs, 0);
    if (authority != nullptr && code != nullptr) {
        description.code = std::string(authority) + ":" + code;
    }
    const char* name = proj().proj_get_name(crs);
    description.name = name != nullptr ? name : definition;
    description.eastAxis = axes.eastName;
    description.northAxis = axes.northName;
    description.chosenZone = chosenZone;
    description.library = gridLibrary();
    return description;
}

}  // namespace

struct GridSystem::State {
    ContextPointer context;      // declared first, so that it outlives every object made in it
    ObjectPointer projected;     // the projected system itself, for the scale and convergence
    ObjectPointer toGrid;        // data set positions (longitude, latitude) to (easting, northing)
    double semiMajorAxis = 0.0;  // metres, and the reciprocal flattening of the data set's
    double inverseFlattening = 0.0;  // ellipsoid, for the steps of the differences
    double time = HUGE_VAL;          // the epoch as PROJ's time coordinate; HUGE_VAL: none
    AxisLayout axes;
};

GridSystem::GridSystem() = default;
GridSystem::~GridSystem() = default;
GridSystem::GridSystem(GridSystem&&) noexcept = default;
GridSystem& GridSystem::operator=(GridSystem&&) noexcept = default;

bool GridSystem::isOpen() const {
    return state_ != nullptr;
}

const GridSystemDescription& GridSystem::description() const {
    return description_;
}

std::string gridLibrary() {
    std::string error;
    if (!loadProj(error)) {
        return "PROJ (" + error + ")";
    }
    return std::string("PROJ ") + proj().proj_info().version;
}

int utmZone(double longitude) {
    const double wrapped = wrappedLongitude(longitude);
    const int zone = static_cast<int>(std::floor((wrapped + 180.0) / kUtmZoneWidth)) + 1;
    return std::clamp(zone, 1, kUtmZoneCount);
}

std::string utmCode(double latitude, double longitude) {
    const int base = latitude >= 0.0 ? kUtmNorthCodeBase : kUtmSouthCodeBase;
    return "EPSG:" + std::to_string(base + utmZone(longitude));
}

std::string frameProblem(const std::string& crs) {
    std::string error;
    if (!loadProj(error)) {
        return "grid coordinates need PROJ: " + error;
    }
    ContextPointer context(proj().proj_context_create());
    if (!context) {
        return "PROJ could not start";
    }
    proj().proj_log_level(context.get(), PJ_LOG_NONE);
    proj().proj_context_set_enable_network(context.get(), 0);
    ObjectPointer frame;
    openGeographic(context.get(), crs, frame, error);
    return error;
}

std::string epochProblem(double epoch) {
    if (std::isfinite(epoch) && epoch >= kEarliestEpoch && epoch <= kLatestEpoch) {
        return "";
    }
    return formatText("the epoch must be a decimal year from %.0f to %.0f, not %g", kEarliestEpoch,
                      kLatestEpoch, epoch);
}

namespace {

// A decimal year with the decimals it needs, at least one: "2020.0", "2024.35".
std::string decimalYear(double year) {
    std::string text = formatText("%.4f", year);
    while (text.size() > 2 && text.back() == '0' && text[text.size() - 2] != '.') {
        text.pop_back();
    }
    return text;
}

std::string accuracyText(const GridSystemDescription& g) {
    if (!g.datumChange && g.accuracy == 0.0) {
        return "exact (a projection alone, no change of datum)";
    }
    return g.accuracy >= 0.0 ? formatText("accurate to %g m", g.accuracy)
                             : std::string("of unknown accuracy (PROJ states none)");
}

}  // namespace

std::string transformationStatement(const GridSystemDescription& g) {
    std::string text = "Positions in " + g.frame +
                       (std::isnan(g.epoch) ? std::string() : " at epoch " + decimalYear(g.epoch)) +
                       " reach the grid by \"" + g.operation +
                       "\", PROJ's choice for the network's area, " + accuracyText(g) + ".";
    if (g.ballpark) {
        text +=
            " This is a ballpark transformation: PROJ knows none between the two datums and "
            "leaves their difference out, so errors of up to " +
            g.ballparkError + " may follow.";
    } else if (g.datumChange && g.accuracy < 0.0) {
        text += " Take this change of datum as a ballpark transformation: errors of up to " +
                g.ballparkError + " may follow.";
    }
    return text;
}

bool GridSystem::open(const std::string& request, const NetworkPlace& place, std::string& error) {
    return open(request, place, CoordinateFrame{}, error);
}

bool GridSystem::open(const std::string& request, const NetworkPlace& place,
                      const CoordinateFrame& frame, std::string& error) {
    state_.reset();
    description_ = GridSystemDescription{};
    const std::string definition = gridDefinition(request, place, error);
    if (definition.empty()) {
        return false;
    }
    if (!std::isnan(frame.epoch) && !(error = epochProblem(frame.epoch)).empty()) {
        return false;
    }
    if (!loadProj(error)) {
        error = "grid coordinates need PROJ: " + error;
        return false;
    }
    auto state = std::make_unique<State>();
    state->context.reset(proj().proj_context_create());
    PJ_CONTEXT* context = state->context.get();
    if (context == nullptr) {
        error = "PROJ could not start";
        return false;
    }
    // PROJ's own messages would go to the standard error stream; ours name the request instead.
    proj().proj_log_level(context, PJ_LOG_NONE);
    proj().proj_context_set_enable_network(context, 0);

    ObjectPointer crs, bound, source;
    if (!openProjectedSystem(context, definition, crs, bound, error)) {
        return false;
    }
    ObjectPointer base(proj().proj_crs_get_geodetic_crs(context, crs.get()));
    if (!base) {
        error = "PROJ gives no geodetic system for \"" + shortened(definition) + "\"";
        return false;
    }
    if (!openSourceFrame(context, frame, base.get(), place, source, error)) {
        return false;
    }
    const bool datumChange = !sameDatum(context, source.get(), base.get());
    state->toGrid = gridTransformation(context, source.get(), crs.get(),
                                       datumChange ? bound.get() : nullptr, place);
    if (!state->toGrid) {
        error = "PROJ has no way from " + nameWithCode(source.get()) + " to \"" +
                shortened(definition) + "\"" + lastError(context);
        return false;
    }
    state->axes = axisLayout(context, crs.get());
    state->semiMajorAxis = place.semiMajorAxis;
    state->inverseFlattening = place.inverseFlattening;
    state->time = std::isnan(frame.epoch) ? HUGE_VAL : frame.epoch;
    description_ = describeSystem(crs.get(), definition, state->axes, request == kUtmRequest);
    describeOperation(context, source.get(), base.get(), state->toGrid.get(), frame.epoch,
                      description_);
    state->projected = std::move(crs);
    state_ = std::move(state);
    return true;
}

GridPosition GridSystem::project(double latitude, double longitude,
                                 double ellipsoidalHeight) const {
    GridPosition position;
    if (!state_ || !std::isfinite(latitude) || !std::isfinite(longitude) ||
        !std::isfinite(ellipsoidalHeight) || std::fabs(latitude) >= kHighestLatitude) {
        return position;
    }
    const double lon = wrappedLongitude(longitude);
    double east = 0.0, north = 0.0;
    if (!toGrid(latitude, lon, ellipsoidalHeight, east, north)) {
        return position;
    }
    // Scale and convergence from the grid positions of four points a few metres north, south,
    // east and west: whatever PROJ does on the way (a datum shift, a prime meridian other than
    // Greenwich, axes pointing west or south) is in them, as it is in the grid coordinates.
    const double e2 = eccentricitySquared(state_->inverseFlattening);
    const double sinPhi = std::sin(radiansFromDegrees(latitude));
    const double meridianStep =
        kDifferenceStep / meridianRadius(state_->semiMajorAxis, e2, sinPhi) * kDegreesPerRadian;
    const double parallelStep = kDifferenceStep /
                                (primeVerticalRadius(state_->semiMajorAxis, e2, sinPhi) *
                                 std::cos(radiansFromDegrees(latitude))) *
                                kDegreesPerRadian;
    double nE = 0, nN = 0, sE = 0, sN = 0, eE = 0, eN = 0, wE = 0, wN = 0;
    if (!toGrid(latitude + meridianStep, lon, ellipsoidalHeight, nE, nN) ||
        !toGrid(latitude - meridianStep, lon, ellipsoidalHeight, sE, sN) ||
        !toGrid(latitude, lon + parallelStep, ellipsoidalHeight, eE, eN) ||
        !toGrid(latitude, lon - parallelStep, ellipsoidalHeight, wE, wN)) {
        return position;
    }
    const AxisLayout& axes = state_->axes;
    const double northwardE = axes.eastSign * (nE - sE);
    const double northwardN = axes.northSign * (nN - sN);
    const double eastwardE = axes.eastSign * (eE - wE);
    const double eastwardN = axes.northSign * (eN - wN);
    const double meridianScale = std::hypot(northwardE, northwardN) / (2 * kDifferenceStep);
    const double parallelScale = std::hypot(eastwardE, eastwardN) / (2 * kDifferenceStep);
    position.valid = true;
    position.easting = east;
    position.northing = north;
    // Conformal projections, those of survey grids, scale every direction alike; the geometric
    // mean of the two is that point scale factor.
    position.scaleFactor = std::sqrt(meridianScale * parallelScale);
    // True north has the grid bearing atan2(dE, dN); grid north lies that angle the other way.
    position.convergence = -std::atan2(northwardE, northwardN) * kDegreesPerRadian;
    return position;
}

bool GridSystem::toGrid(double latitude, double longitude, double height, double& east,
                        double& north) const {
    // The epoch is the time coordinate of a time-dependent transformation (others ignore it).
    const PJ_COORD grid = proj().proj_trans(
        state_->toGrid.get(), PJ_FWD, proj().proj_coord(longitude, latitude, height, state_->time));
    if (!std::isfinite(grid.xy.x) || !std::isfinite(grid.xy.y)) {
        return false;
    }
    const bool eastFirst = state_->axes.eastIndex == 0;
    east = eastFirst ? grid.xy.x : grid.xy.y;
    north = eastFirst ? grid.xy.y : grid.xy.x;
    return true;
}

}  // namespace torvek::front

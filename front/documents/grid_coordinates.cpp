#include "front/documents/grid_coordinates.h"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

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
// The geographic system of GPS positions, from which a datum transformation starts.
constexpr const char* kWgs84Geographic = "EPSG:4326";
// Half the side, in degrees, of the area around the network's middle that PROJ is given to choose
// a transformation for: a whole network uses one transformation, the one best there.
constexpr double kAreaHalfSide = 0.5;
// Half the length of the short lines (metres) whose grid images give scale and convergence: long
// enough that the grid coordinates' rounding (far below a micrometre) does not show, short enough
// that the projection's curvature does not (its effect goes with the square of the length).
constexpr double kDifferenceStep = 5.0;
// Grids do not reach the poles: no meridian direction is defined there.
constexpr double kHighestLatitude = 90.0 - 1e-6;

struct ContextDeleter {
    void operator()(PJ_CONTEXT* context) const { proj_context_destroy(context); }
};
struct ObjectDeleter {
    void operator()(PJ* object) const { proj_destroy(object); }
};
struct ListDeleter {
    void operator()(PJ_OBJ_LIST* list) const { proj_list_destroy(list); }
};
struct FactoryDeleter {
    void operator()(PJ_OPERATION_FACTORY_CONTEXT* factory) const {
        proj_operation_factory_context_destroy(factory);
    }
};
using ContextPointer = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using ObjectPointer = std::unique_ptr<PJ, ObjectDeleter>;
using ListPointer = std::unique_ptr<PJ_OBJ_LIST, ListDeleter>;

// PROJ's reason for the last failure as " (reason)", or nothing when it gives none worth showing.
std::string lastError(PJ_CONTEXT* context) {
    const int code = proj_context_errno(context);
    const char* text = code != 0 ? proj_context_errno_string(context, code) : nullptr;
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
    ObjectPointer ellipsoid(proj_get_ellipsoid(context, crs));
    if (!ellipsoid) {
        return false;
    }
    int computed = 0;
    double inverseFlattening = 0.0;
    return proj_ellipsoid_get_parameters(context, ellipsoid.get(), &a, &b, &computed,
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
    ObjectPointer cs(proj_crs_get_coordinate_system(context, crs));
    if (!cs || proj_cs_get_axis_count(context, cs.get()) < 2) {
        return layout;
    }
    std::string names[2], directions[2];
    for (int i = 0; i < 2; ++i) {
        const char* name = nullptr;
        const char* direction = nullptr;
        if (proj_cs_get_axis_info(context, cs.get(), i, &name, nullptr, &direction, nullptr,
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

// The area around the network's middle for which PROJ chooses a transformation.
void setArea(PJ_CONTEXT* context, PJ_OPERATION_FACTORY_CONTEXT* factory,
             const NetworkPlace& place) {
    const double west = wrappedLongitude(place.middleLongitude) - kAreaHalfSide;
    const double east = wrappedLongitude(place.middleLongitude) + kAreaHalfSide;
    const double south = std::max(-90.0, place.middleLatitude - kAreaHalfSide);
    const double north = std::min(90.0, place.middleLatitude + kAreaHalfSide);
    proj_operation_factory_context_set_area_of_interest(context, factory, west, south, east, north);
    proj_operation_factory_context_set_spatial_criterion(
        context, factory, PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
}

// The first transformation in PROJ's order of preference from `source` to `target` (around the
// network's middle when `place` is given) whose grids, if any, are at hand. Null when there is
// none.
ObjectPointer firstUsable(PJ_CONTEXT* context, const PJ* source, const PJ* target,
                          const NetworkPlace* place) {
    std::unique_ptr<PJ_OPERATION_FACTORY_CONTEXT, FactoryDeleter> factory(
        proj_create_operation_factory_context(context, nullptr));
    if (!factory) {
        return nullptr;
    }
    proj_operation_factory_context_set_grid_availability_use(
        context, factory.get(), PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    if (place != nullptr) {
        setArea(context, factory.get(), *place);
    }
    ListPointer operations(proj_create_operations(context, source, target, factory.get()));
    if (!operations) {
        return nullptr;
    }
    const int count = proj_list_get_count(operations.get());
    for (int i = 0; i < count; ++i) {
        ObjectPointer operation(proj_list_get(context, operations.get(), i));
        if (operation && proj_coordoperation_is_instantiable(context, operation.get()) != 0) {
            return operation;
        }
    }
    return nullptr;
}

// The best transformation PROJ knows from `source` to `target` around the network's middle,
// whose grids (if any) are at hand; outside
// the area a system is made for (a network projected into the next UTM zone, say) the best one
// anywhere. Null when there is none.
ObjectPointer bestTransformation(PJ_CONTEXT* context, const PJ* source, const PJ* target,
                                 const NetworkPlace& place) {
    ObjectPointer operation = firstUsable(context, source, target, &place);
    return operation ? std::move(operation) : firstUsable(context, source, target, nullptr);
}

// An operation's name without the axis order changes PROJ lists among its steps, which say
// nothing about the datum.
std::string withoutAxisSwaps(std::string name) {
    for (const char* swap : {"axis order change (2D) + ", " + axis order change (2D)"}) {
        for (std::size_t at = name.find(swap); at != std::string::npos; at = name.find(swap)) {
            name.erase(at, std::strlen(swap));
        }
    }
    return name;
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
    crs.reset(proj_create(context, definition.c_str()));
    if (!crs) {
        error = "PROJ does not know the coordinate system \"" + shortened(definition) + "\"" +
                lastError(context);
        return false;
    }
    if (proj_get_type(crs.get()) == PJ_TYPE_BOUND_CRS) {
        bound = std::move(crs);
        crs.reset(proj_get_source_crs(context, bound.get()));
    }
    if (!crs || proj_get_type(crs.get()) != PJ_TYPE_PROJECTED_CRS) {
        error = "\"" + shortened(definition) +
                "\" is not a projected coordinate system (one with eastings and northings)";
        return false;
    }
    return true;
}

// The way from the data set's positions (longitude, latitude) to the grid. On the system's own
// ellipsoid only the projection applies; on another one PROJ carries them from WGS 84, the frame
// of GPS positions. Null when PROJ has none.
ObjectPointer gridTransformation(PJ_CONTEXT* context, const PJ* base, const PJ* crs,
                                 const PJ* bound, bool sameEllipsoid, const NetworkPlace& place) {
    ObjectPointer source(sameEllipsoid ? proj_clone(context, base)
                                       : proj_create(context, kWgs84Geographic));
    ObjectPointer longitudeFirst(source ? proj_normalize_for_visualization(context, source.get())
                                        : nullptr);
    if (!longitudeFirst) {
        return nullptr;
    }
    const PJ* target = !sameEllipsoid && bound != nullptr ? bound : crs;
    return bestTransformation(context, longitudeFirst.get(), target, place);
}

// What the documents say of an opened system: its code and name, axes, zone and the datum
// transformation `toGrid` applies when the ellipsoids differ.
GridSystemDescription describeSystem(PJ_CONTEXT* context, const PJ* crs, const PJ* toGrid,
                                     const std::string& definition, const AxisLayout& axes,
                                     bool chosenZone, bool sameEllipsoid) {
    GridSystemDescription description;
    const char* authority = proj_get_id_auth_name(crs, 0);
    const char* code = proj_get_id_code(crs, 0);
    if (authority != nullptr && code != nullptr) {
        description.code = std::string(authority) + ":" + code;
    }
    const char* name = proj_get_name(crs);
    description.name = name != nullptr ? name : definition;
    description.eastAxis = axes.eastName;
    description.northAxis = axes.northName;
    description.chosenZone = chosenZone;
    if (!sameEllipsoid) {
        const char* operation = proj_get_name(toGrid);
        description.datumTransformation = withoutAxisSwaps(operation != nullptr ? operation : "");
        description.transformationAccuracy = proj_coordoperation_get_accuracy(context, toGrid);
    }
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
    return std::string("PROJ ") + proj_info().version;
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

bool GridSystem::open(const std::string& request, const NetworkPlace& place, std::string& error) {
    state_.reset();
    description_ = GridSystemDescription{};
    const std::string definition = gridDefinition(request, place, error);
    if (definition.empty()) {
        return false;
    }
    auto state = std::make_unique<State>();
    state->context.reset(proj_context_create());
    PJ_CONTEXT* context = state->context.get();
    if (context == nullptr) {
        error = "PROJ could not start";
        return false;
    }
    // PROJ's own messages would go to the standard error stream; ours name the request instead.
    proj_log_level(context, PJ_LOG_NONE);
    proj_context_set_enable_network(context, 0);

    ObjectPointer crs, bound;
    if (!openProjectedSystem(context, definition, crs, bound, error)) {
        return false;
    }
    ObjectPointer base(proj_crs_get_geodetic_crs(context, crs.get()));
    double a = 0.0, b = 0.0;
    if (!base || !ellipsoidAxes(context, crs.get(), a, b)) {
        error = "PROJ gives no ellipsoid for \"" + shortened(definition) + "\"";
        return false;
    }
    const double ourB = place.semiMajorAxis * (1.0 - 1.0 / place.inverseFlattening);
    const bool sameEllipsoid = std::fabs(a - place.semiMajorAxis) <= kSameAxisTolerance &&
                               std::fabs(b - ourB) <= kSameAxisTolerance;
    state->toGrid =
        gridTransformation(context, base.get(), crs.get(), bound.get(), sameEllipsoid, place);
    if (!state->toGrid) {
        error = "PROJ has no way from the network's positions to \"" + shortened(definition) +
                "\"" + lastError(context);
        return false;
    }
    state->axes = axisLayout(context, crs.get());
    state->semiMajorAxis = place.semiMajorAxis;
    state->inverseFlattening = place.inverseFlattening;
    description_ = describeSystem(context, crs.get(), state->toGrid.get(), definition, state->axes,
                                  request == kUtmRequest, sameEllipsoid);
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
    // HUGE_VAL as the time: the positions carry no epoch of their own.
    const PJ_COORD grid =
        proj_trans(state_->toGrid.get(), PJ_FWD, proj_coord(longitude, latitude, height, HUGE_VAL));
    if (!std::isfinite(grid.xy.x) || !std::isfinite(grid.xy.y)) {
        return false;
    }
    const bool eastFirst = state_->axes.eastIndex == 0;
    east = eastFirst ? grid.xy.x : grid.xy.y;
    north = eastFirst ? grid.xy.y : grid.xy.x;
    return true;
}

}  // namespace torvek::front

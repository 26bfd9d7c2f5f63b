#pragma once
// Grid (map) coordinates of adjusted positions in a projected coordinate reference system, with
// the grid scale factor and the meridian convergence of each point. The projection is the PROJ
// library's, never a formula of our own, so that every system PROJ knows gives the numbers its
// users expect.

#include <limits>
#include <memory>
#include <string>

#include "front/project/project_frame.h"

namespace torvek::front {

// The request that picks the UTM zone of the network itself (WGS 84 / UTM, EPSG 326zz or 327zz).
inline constexpr const char* kUtmRequest = "utm";

// The frame of the adjusted coordinates when neither the project nor the command line names one:
// WGS 84, the frame of GPS positions.
inline constexpr const char* kDefaultFrame = "EPSG:4326";
// Where the network lies and on which ellipsoid its coordinates are, for the choice of a UTM zone
// and of the transformation onto the grid system's datum.
struct NetworkPlace {
    double semiMajorAxis = 0.0;      // metres, of the data set's ellipsoid
    double inverseFlattening = 0.0;  // of the data set's ellipsoid (> 1)
    double middleLatitude = 0.0;     // degrees, [-90, 90]
    double middleLongitude = 0.0;    // degrees, [-180, 180]
    // Half the extent of the sites around the middle, degrees (>= 0): the network's bounding box,
    // the area PROJ chooses its transformation for. 0 for a network of one point.
    double halfLatitudeSpan = 0.0;
    double halfLongitudeSpan = 0.0;
};

// The geographic frame the adjusted coordinates are in, and their epoch.
struct CoordinateFrame {
    // Anything PROJ takes as a geographic CRS ("EPSG:4979", "EPSG:7912", a WKT text); empty for
    // kDefaultFrame, which also lets coordinates on another ellipsoid be projected as they are.
    std::string crs;
    // Decimal year in [kEarliestEpoch, kLatestEpoch], the time coordinate of a time-dependent
    // transformation; NaN when not given.
    double epoch = std::numeric_limits<double>::quiet_NaN();
};

// Why `crs` cannot serve as the frame of adjusted coordinates (PROJ does not know it, or it is no
// geographic system), or empty when it can.
std::string frameProblem(const std::string& crs);

// Why `epoch` (a decimal year) cannot be an epoch of coordinates, or empty when it can.
std::string epochProblem(double epoch);

// What a grid system is and how positions reach it.
struct GridSystemDescription {
    std::string code;      // "EPSG:32633", or empty when the system has no authority code
    std::string name;      // "WGS 84 / UTM zone 33N"
    std::string eastAxis;  // the axis names, easting first: "Easting", "Northing"
    std::string northAxis;
    bool chosenZone = false;  // the UTM zone was chosen from the network (the "utm" request)
    std::string frame;        // the frame of the positions: "WGS 84 (EPSG:4326)"
    double epoch = std::numeric_limits<double>::quiet_NaN();  // decimal year; NaN: none given
    // The operation PROJ chose from the frame to the grid, by its name, and its accuracy in metres
    // (negative: PROJ states none; 0 for a projection alone).
    std::string operation;
    double accuracy = -1.0;
    bool datumChange = false;  // the operation changes the datum, not only projects
    bool ballpark = false;     // PROJ knows no transformation of the datum, only a ballpark one
    // A ballpark operation's likely error: "2 m" between frames on one ellipsoid (modern frames
    // of GPS), "several hundred metres" between datums on different ones.
    std::string ballparkError;
    std::string library;  // "PROJ 9.1.1"
};

// One sentence on how positions reached the grid, for every output that carries grid coordinates:
// the frame and epoch, the operation and its accuracy, and for a ballpark operation (or a datum
// change of no stated accuracy) the word "ballpark" with the size of error that may follow.
std::string transformationStatement(const GridSystemDescription& description);

// One position on the grid.
struct GridPosition {
    bool valid = false;        // false when PROJ could not project the point
    double easting = 0.0;      // metres, along the system's east-pointing axis
    double northing = 0.0;     // metres, along its north-pointing axis
    double scaleFactor = 0.0;  // point scale factor of the projection (1 = true length)
    double convergence = 0.0;  // degrees: the angle from true north to grid north, clockwise
                               // positive (a grid bearing is the true azimuth minus it)
};

// A projected coordinate reference system opened in PROJ, ready to project the network's
// positions. Move-only: it owns PROJ objects.
class GridSystem {
  public:
    GridSystem();
    ~GridSystem();
    GridSystem(GridSystem&&) noexcept;
    GridSystem& operator=(GridSystem&&) noexcept;
    GridSystem(const GridSystem&) = delete;
    GridSystem& operator=(const GridSystem&) = delete;

    // Opens the system named by `request`: anything PROJ takes as a projected CRS ("EPSG:25832",
    // a WKT or PROJJSON text, "+proj=utm +zone=32 +ellps=GRS80 +type=crs"), or kUtmRequest for the
    // UTM zone of the network's middle. The positions are in `frame`; PROJ chooses its best
    // operation from there to the system for the network's bounding box. False with `error` set
    // when PROJ does not know the system or it is not a projected one, when the frame is no
    // geographic system or lies on another ellipsoid than the data set, or when the epoch is out
    // of range; nothing is fetched from the network.
    bool open(const std::string& request, const NetworkPlace& place, const CoordinateFrame& frame,
              std::string& error);
    // The same in the default frame.
    bool open(const std::string& request, const NetworkPlace& place, std::string& error);

    bool isOpen() const;
    const GridSystemDescription& description() const;

    // The grid position of a point given by latitude and longitude (degrees) on the data set's
    // ellipsoid and its ellipsoidal height (metres; it matters only when a datum transformation
    // is needed), at the frame's epoch. Invalid when the system is not open or PROJ cannot project
    // the point.
    GridPosition project(double latitude, double longitude, double ellipsoidalHeight) const;

  private:
    bool toGrid(double latitude, double longitude, double height, double& east,
                double& north) const;

    struct State;
    std::unique_ptr<State> state_;
    GridSystemDescription description_;
};

// The library that computes grid coordinates, with the version in use: "PROJ 9.1.1".
std::string gridLibrary();

// The UTM zone (1 to 60) of a longitude in degrees: six-degree zones numbered eastwards from
// 180 degrees west. Longitudes outside [-180, 180] are wrapped first.
int utmZone(double longitude);

// The EPSG code of the WGS 84 UTM system of a point: "EPSG:326zz" north of the equator (latitude
// 0 included), "EPSG:327zz" south of it.
std::string utmCode(double latitude, double longitude);

}  // namespace torvek::front

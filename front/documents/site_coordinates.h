#pragma once
// Every form of an adjusted position that a surveyor asks for, derived from the geodetic
// coordinates and standard deviations of the output data set: heights above the ellipsoid and
// the geoid, Earth-centred X, Y, Z with their standard deviations, the horizontal confidence
// ellipse and, when a grid system is given, grid coordinates with scale factor and convergence.

#include <array>
#include <vector>

#include "front/documents/grid_coordinates.h"
#include "front/results/network_results.h"

namespace torvek::front {

struct SiteCoordinates {
    bool available = false;        // the run adjusted the site; nothing below is set otherwise
    double orthometricHeight = 0;  // metres above the geoid: the data set's elevation
    double geoidHeight = 0;        // metres; 0 when the data set has none
    double ellipsoidalHeight = 0;  // metres above the ellipsoid: elevation plus geoid height
    std::array<double, 3> geocentric{};        // X, Y, Z in metres, on the data set's ellipsoid
    std::array<double, 3> geocentricSigmas{};  // their standard deviations, metres
    // The horizontal confidence ellipse at the run's confidence level: semi-axes in metres and
    // the azimuth of the semi-major axis in degrees from north (0 or 90: the data set keeps no
    // north-east correlation, so the axes point north and east).
    double ellipseSemiMajor = 0, ellipseSemiMinor = 0, ellipseAzimuth = 0;
    GridPosition grid;  // valid only when a grid system was given and PROJ projected the point
};

// The coordinates of every site of `results`, in the same order. `grid` may be null (no grid
// coordinates) or an open grid system.
std::vector<SiteCoordinates> siteCoordinates(const NetworkResults& results, const GridSystem* grid);

// Where the network lies, for the choice of a UTM zone and of a datum transformation: the middle
// of the adjusted sites (of all sites with a position when none was adjusted), longitudes taken
// relative to the first site so that a network across the 180th meridian stays whole. NaN
// coordinates when no site has a position.
NetworkPlace networkPlace(const NetworkResults& results);

// True when at least one site carries a geoid height, so that heights above the geoid and above
// the ellipsoid differ.
bool hasGeoidHeights(const NetworkResults& results);

}  // namespace torvek::front

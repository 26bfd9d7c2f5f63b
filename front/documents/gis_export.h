#pragma once
// The results of a run for a GIS: GeoJSON and KML, each with every site as a point and every
// vector as a line, carrying names and results as attributes.

#include <string>

#include "front/documents/results_document.h"
#include "front/files/file_output.h"

namespace torvek::front {

// A GeoJSON text (RFC 7946) of one FeatureCollection: first the sites, as Points at their
// adjusted positions (at their given positions when not adjusted), longitude and latitude in
// degrees taken as WGS 84 and the height above the ellipsoid in metres; then the vectors, as
// LineStrings from site to site (without geometry when a site has no position). Properties:
// "kind" ("site" or "vector"), names, control, heights, standard deviations and ellipses in
// millimetres, Earth-centred X, Y, Z, grid coordinates when the view has them; for vectors the
// record number, length, whether it was adjusted and above the tau critical value, residuals (mm)
// and normalized residuals (the largest with its sign), or for a vector left out its misfit.
// Unknown values are null. Longitudes lie in [-180, 180]; degrees carry nine decimals (0.1 mm).
// `layers` keeps the sites (Points) or the vectors (LineStrings) alone: a GeoJSON file is one
// layer, which a GIS reads as of one geometry type only when it holds one.
enum class GeoJsonLayers { kSitesAndVectors, kSites, kVectors };
// A large network (documentScope not whole) leaves out the misfit fields of vectors without a
// misfit rather than writing them null.
std::string renderGeoJson(const std::string& title, const ResultsView& view,
                          GeoJsonLayers layers = GeoJsonLayers::kSitesAndVectors);
// The same text handed to `sink` one feature at a time.
void writeGeoJson(const std::string& title, const ResultsView& view, GeoJsonLayers layers,
                  const TextSink& sink);

// A KML 2.2 document with the same features in two folders, "Sites" (Points) and "Vectors"
// (LineStrings), each a layer of one geometry type; the attributes as typed ExtendedData (a
// <Schema> of each folder's fields, <SchemaData> per placemark, unknown values left out); vectors
// above the tau critical value drawn red, those left out grey.
// A large network (documentScope not whole) leaves the sites' X, Y, Z to the GeoJSON and keeps a
// placemark with attributes for every vector above tau or left out; its other vectors are drawn as
// lines without attributes, merged into placemarks "Adjusted vectors within tau" (their attributes
// are in the GeoJSON file).
std::string renderKml(const std::string& title, const ResultsView& view);
// The same text handed to `sink` one placemark at a time.
void writeKml(const std::string& title, const ResultsView& view, const TextSink& sink);

}  // namespace torvek::front

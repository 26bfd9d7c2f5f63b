#pragma once

// The a-priori precision of a measured vector along the local axes of the reference point.

namespace torvek {

class ProjectDataSet;

// Standard deviations sN, sE, sU (metres) of the vector under the data set's vector cursor along
// north, east and up at the data set's reference point: its checked Cartesian covariance
// (getVectorCovariance) rotated into the local frame, correlations included. False, with the
// outputs untouched, when the vector cursor is at the end of the list.
bool localVectorSigmas(const ProjectDataSet& dataSet, double& sigmaNorth, double& sigmaEast,
                       double& sigmaUp);

}  // namespace torvek

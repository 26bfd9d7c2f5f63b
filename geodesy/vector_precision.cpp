#include "geodesy/vector_precision.h"

#include "dataset/project_data_set.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/local_frame.h"

namespace torvek {

bool localVectorSigmas(const ProjectDataSet& dataSet, double& sigmaNorth, double& sigmaEast,
                       double& sigmaUp) {
    double s1 = 0.0, s2 = 0.0, s3 = 0.0, c12 = 0.0, c13 = 0.0, c23 = 0.0;
    if (!dataSet.getVectorCovariance(s1, s2, s3, c12, c13, c23)) {
        return false;
    }
    double latitude = 0.0, longitude = 0.0;
    dataSet.getReferencePoint(latitude, longitude);
    const Matrix3 r =
        localFrameMatrixAt(radiansFromDegrees(latitude), radiansFromDegrees(longitude));
    const Matrix3 covariance{
        s1 * s1,       c12 * s1 * s2, c13 * s1 * s3,  // X row
        c12 * s1 * s2, s2 * s2,       c23 * s2 * s3,  // Y row
        c13 * s1 * s3, c23 * s2 * s3, s3 * s3,        // Z row
    };
    const Vector3 sigmas = localSigmasFromCartesianCovariance(r, covariance);
    sigmaNorth = sigmas[kNorth];
    sigmaEast = sigmas[kEast];
    sigmaUp = sigmas[kUp];
    return true;
}

}  // namespace torvek

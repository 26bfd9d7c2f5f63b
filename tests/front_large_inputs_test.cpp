// Inputs of the size the sparse engine adjusts: projects far beyond 64 MiB and more than 99,999
// vectors read back as they were written.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "dataset/adjusted_data_set.h"
#include "dataset/vector_label.h"
#include "front/cli/convert_commands.h"
#include "front/project/project_json.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::front {
namespace {

using torvek::testing::TempDirectory;

// A network of `sites` sites on a grid of 0.01 degrees and `vectors` vectors, each from a site to
// the next but one, as many times around as it takes, with distinct components and results filled
// as an adjusted run would fill them (so that the export is as large as a real one).
AdjustedDataSet gridNetwork(int sites, int vectors) {
    AdjustedDataSet ds;
    for (int i = 0; i < sites; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "S%03X", i % 4096);
        // Names must differ in four characters: sites past 4096 take a letter of their own.
        name[0] = static_cast<char>('S' + i / 4096);
        EXPECT_TRUE(ds.addSite(name));
        SiteRecord& site = *ds.currentSite();
        site.latitude = 46.0 + 0.01 * (i / 100);
        site.longitude = 7.0 + 0.01 * (i % 100);
        site.elevation = 500.0 + i % 37;
        site.adjustedLatitude = site.latitude + 1e-9 * i;
        site.adjustedLongitude = site.longitude - 1e-9 * i;
        site.adjustedElevation = site.elevation + 0.001 * (i % 13);
        site.adjustedLatitudeSigma = site.adjustedLongitudeSigma = 0.0021 + 1e-7 * i;
        site.adjustedElevationSigma = 0.0043 + 1e-7 * i;
    }
    for (int v = 0; v < vectors; ++v) {
        const SiteRecord& from = ds.sites()[static_cast<std::size_t>(v % sites)];
        const SiteRecord& to = ds.sites()[static_cast<std::size_t>((v + 2 + v / sites) % sites)];
        EXPECT_TRUE(ds.addVector(from.name.data(), to.name.data()));
        VectorRecord& vector = *ds.currentVector();
        vector.deltaX = 1000.125 + v;
        vector.deltaY = -2000.25 - v;
        vector.deltaZ = 300.5 + 0.001 * v;
        vector.sigmaX = vector.sigmaY = vector.sigmaZ = 0.005;
        vector.adjustedDeltaX = vector.deltaX + 0.001 * (v % 7);
        vector.adjustedDeltaY = vector.deltaY - 0.001 * (v % 5);
        vector.adjustedDeltaZ = vector.deltaZ + 0.0005 * (v % 3);
    }
    ds.setAdjustmentSucceeded(1);
    return ds;
}

TEST(FrontLargeInputs, ExportOfTenThousandSitesAndMoreThan99999VectorsImportsBack) {
    constexpr int kSites = 10000;
    constexpr int kVectors = 100001;
    const TempDirectory folder;
    const std::string dataSet = folder.path() + "/big.dat";
    const std::string exported = folder.path() + "/big.json";
    const std::string imported = folder.path() + "/back.dat";
    const AdjustedDataSet original = gridNetwork(kSites, kVectors);
    ASSERT_TRUE(original.writeFile(dataSet));

    ExportRequest request;
    request.dataSet = dataSet;
    request.output = exported;
    ASSERT_EQ(runExport(request), 0);
    // The file is beyond the 64 MiB an earlier limit allowed.
    EXPECT_GT(torvek::testing::readFileBytes(exported).size(), std::size_t{64} << 20);

    ASSERT_EQ(runImport(exported, imported, true), 0);
    AdjustedDataSet back;
    ASSERT_TRUE(back.readFile(imported));
    ASSERT_EQ(back.siteCount(), kSites);
    ASSERT_EQ(back.vectorCount(), kVectors);
    // The last vector keeps its six-digit number, its label names it whole, and a lookup by that
    // label finds it rather than vector 10000.
    const VectorRecord& last = back.vectors().back();
    EXPECT_EQ(last.recordNumber, kVectors);
    char label1[kVectorLabelSize], label2[kVectorLabelSize];
    formatVectorLabel(last, label1, label2);
    EXPECT_EQ(vectorLabelNumber(label2), kVectors);
    EXPECT_DOUBLE_EQ(last.deltaX, original.vectors().back().deltaX);
    EXPECT_DOUBLE_EQ(last.adjustedDeltaY, original.vectors().back().adjustedDeltaY);
    EXPECT_DOUBLE_EQ(back.sites().back().adjustedLatitude,
                     original.sites().back().adjustedLatitude);
}

}  // namespace
}  // namespace torvek::front

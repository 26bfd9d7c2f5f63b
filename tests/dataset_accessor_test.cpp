#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "dataset/adjusted_data_set.h"

namespace torvek {
namespace {

TEST(DataSetAccessors, ClearedDataSetReportsNoRecords) {
    AdjustedDataSet dataSet("kept.dat");
    ASSERT_TRUE(dataSet.addSite("A"));
    ASSERT_TRUE(dataSet.addVector("A", "B"));
    dataSet.setAdjustmentSettings({1, 90.0, 1.5});
    dataSet.clear();
    EXPECT_EQ(dataSet.fileName(), "kept.dat");
    EXPECT_FALSE(dataSet.firstSite());
    EXPECT_FALSE(dataSet.firstVector());
    EXPECT_EQ(dataSet.siteInUse(), 0);
    EXPECT_EQ(dataSet.vectorInUse(), 0);
    EXPECT_EQ(dataSet.weightDivisor(), 2);
    EXPECT_EQ(dataSet.siteName(), nullptr);
    EXPECT_EQ(dataSet.vectorFromSite(), nullptr);
    EXPECT_EQ(dataSet.vectorCount(), 0);
    const DataSetSettings settings = dataSet.adjustmentSettings();
    EXPECT_EQ(settings.minimallyConstrained, 0);
    EXPECT_EQ(settings.confidenceLevel, 90.0);  // the header stays
    EXPECT_EQ(settings.vectorSigmaScale, 1.5);

    // Getters at the end leave their outputs alone; setters change nothing.
    SitePosition position{-5, -5, -5, -5};
    EXPECT_FALSE(dataSet.getSitePosition(position));
    EXPECT_FALSE(dataSet.setSitePosition({1, 2, 3, 4}));
    AdjustedSite adjusted{-5, -5, -5, -5, -5, -5};
    EXPECT_EQ(dataSet.getAdjustedSite(adjusted), 0);
    EXPECT_FALSE(dataSet.setVectorLocalSigmas(1, 1, 1));
    EXPECT_EQ(position.latitude, -5);
    EXPECT_EQ(adjusted.elevationSigma, -5);
    AdjustmentCounts counts{-5, -5, -5, -5};
    double a = -5, b = -5, c = -5;
    EXPECT_FALSE(dataSet.getAdjustmentCounts(counts));
    EXPECT_FALSE(dataSet.getChiSquareTest(a, b, c));
    EXPECT_EQ(counts.iterationCount, -5);
    EXPECT_EQ(dataSet.tauCriticalValue(), 0.0);
    EXPECT_EQ(dataSet.unitWeightStandardError(), 0.0);
    EXPECT_EQ(dataSet.adjustmentSucceeded(), 0);
}

TEST(DataSetAccessors, AddedRecordsHaveFreshDefaults) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("LONGNAME"));
    EXPECT_EQ(dataSet.currentSite()->name.toString(), "LONG");
    EXPECT_EQ(dataSet.currentSite()->inUse, 1);
    EXPECT_EQ(dataSet.currentSite()->recordNumber, 1);
    ASSERT_TRUE(dataSet.addAdjustmentRecord());
    const AdjustmentRecord& record = *dataSet.currentAdjustmentRecord();
    EXPECT_EQ(record.recordNumber, 1);
    EXPECT_EQ(record.minimallyConstrained, 0);
    EXPECT_EQ(record.adjustmentSucceeded, 0);
    EXPECT_EQ(record.chiSquare, 1.0);
    EXPECT_EQ(record.tauCriticalValue, 1.0);
    EXPECT_EQ(record.aprioriBias[7], 0.0);
    EXPECT_EQ(record.biasResults[13], 0.0);
}

TEST(DataSetAccessors, SiteSigmasFollowTheMillimetreRule) {
    AdjustedDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("S"));
    ASSERT_TRUE(dataSet.setSiteSigmas(0.0, 0.0004, -2.0));
    EXPECT_EQ(dataSet.currentSite()->latitudeSigma, 0.0);
    EXPECT_EQ(dataSet.currentSite()->longitudeSigma, 0.001);
    EXPECT_EQ(dataSet.currentSite()->elevationSigma, 0.001);
    // The getter repairs what a front end stored directly.
    dataSet.currentSite()->latitudeSigma = 0.0002;
    dataSet.currentSite()->elevationSigma = 0.25;
    double s1 = 0, s2 = 0, s3 = 0;
    ASSERT_TRUE(dataSet.getSiteSigmas(s1, s2, s3));
    EXPECT_EQ(s1, 0.001);
    EXPECT_EQ(s3, 0.25);

    ASSERT_TRUE(dataSet.setAdjustedSite({46.0, 7.0, 500.0, 0.0, 0.0005, 0.02}));
    dataSet.setSiteInUse(0);
    AdjustedSite adjusted{0, 0, 0, -1, -1, -1};
    EXPECT_EQ(dataSet.getAdjustedSite(adjusted), 0);  // not in use
    EXPECT_EQ(adjusted.latitude, 46.0);
    EXPECT_EQ(adjusted.latitudeSigma, 0.0);
    EXPECT_EQ(adjusted.longitudeSigma, 0.001);
    EXPECT_EQ(adjusted.elevationSigma, 0.02);
}

TEST(DataSetAccessors, ConstraintResidualComponents) {
    AdjustedDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("S"));
    EXPECT_TRUE(dataSet.setConstraintResidual(1, 0.004, 2.0));
    EXPECT_FALSE(dataSet.setConstraintResidual(3, 9.0, 9.0));
    EXPECT_FALSE(dataSet.setConstraintResidual(-1, 9.0, 9.0));
    const SiteRecord& site = *dataSet.currentSite();
    EXPECT_EQ(site.constraintResidual[0], 0.0);
    EXPECT_EQ(site.constraintResidual[1], 0.004);
    EXPECT_EQ(site.normalizedConstraintResidual[1], 2.0);
    EXPECT_EQ(site.constraintResidual[2], 0.0);
    double v = 0, z = 0;
    EXPECT_FALSE(dataSet.getConstraintResidual(3, v, z));
    EXPECT_TRUE(dataSet.getConstraintResidual(1, v, z));
    EXPECT_EQ(z, 2.0);
}

TEST(DataSetAccessors, VectorSigmaSettersRaiseZeroToOneMillimetre) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addVector("A", "B"));
    ASSERT_TRUE(dataSet.setVectorCovariance({{0.0, 0.0005, 5.0}, {2.0, -0.5, 0.1}}));
    const VectorRecord& vector = *dataSet.currentVector();
    EXPECT_EQ(vector.sigmaX, 0.001);
    EXPECT_EQ(vector.sigmaY, 0.001);
    EXPECT_EQ(vector.sigmaZ, 5.0);
    EXPECT_EQ(vector.correlationXY, 2.0);  // stored as given
    dataSet.currentVector()->localCorrelation = {0.3, 0.3, 0.3};
    ASSERT_TRUE(dataSet.setVectorLocalSigmas(0.0, -1.0, 0.02));
    EXPECT_EQ(vector.localSigmaNorth, 0.001);
    EXPECT_EQ(vector.localSigmaEast, 0.001);
    EXPECT_EQ(vector.localSigmaUp, 0.02);
    EXPECT_EQ(vector.localCorrelation[1], 0.0);
}

TEST(DataSetAccessors, VectorCovarianceHoldsSigmasAndKeepsTheCorrelationFields) {
    ProjectDataSet dataSet;
    ComponentPrecision precision{{-9, -9, -9}, {-9, -9, -9}};
    EXPECT_FALSE(dataSet.getVectorCovariance(precision));
    EXPECT_EQ(precision.sigma[0], -9);
    ASSERT_TRUE(dataSet.addVector("A", "B"));
    VectorRecord& vector = *dataSet.currentVector();
    vector.sigmaX = 0.0;
    vector.sigmaY = 250.0;
    vector.sigmaZ = -3.0;
    vector.correlationXY = 20.0;  // a covariance: telling it apart is not the data set's part
    vector.correlationXZ = -0.5;
    vector.correlationYZ = 0.25;
    ASSERT_TRUE(dataSet.getVectorCovariance(precision));
    EXPECT_EQ(precision.sigma, (std::array<double, 3>{0.001, 100.0, 0.001}));
    EXPECT_EQ(precision.correlation, (std::array<double, 3>{20.0, -0.5, 0.25}));
    EXPECT_EQ(vector.sigmaY, 250.0);  // the record keeps what it holds
}

TEST(DataSetAccessors, VectorResultsFollowTheFloorRules) {
    AdjustedDataSet dataSet;
    ASSERT_TRUE(dataSet.addVector("A", "B"));
    const double results[12] = {4e-7, -9e-7, 1e-6, -2.5, 0, 0, 0, 0, 0, 0, 0, 3.0};
    ASSERT_TRUE(dataSet.setVectorTestResults(results));
    double stored[12];
    ASSERT_TRUE(dataSet.getVectorTestResults(stored));
    EXPECT_EQ(stored[0], 0.0);
    EXPECT_EQ(stored[1], 0.0);
    EXPECT_EQ(stored[2], 1e-6);
    EXPECT_EQ(stored[3], -2.5);
    EXPECT_EQ(stored[11], 3.0);

    ASSERT_TRUE(dataSet.setAdjustedLocalSigmas({{5e-7, 0.0, -3.0}, {1.5, -1.0, -1.0001}}));
    ComponentPrecision s;
    ASSERT_TRUE(dataSet.getAdjustedLocalSigmas(s));
    EXPECT_EQ(s.sigma, (std::array<double, 3>{1e-6, 0.0, -3.0}));
    EXPECT_EQ(s.correlation, (std::array<double, 3>{0.0, -1.0, 0.0}));

    ASSERT_TRUE(dataSet.setAdjustedVectorSigmas({{5e-7, 2e-6, 0.0}, {1.5, 0.2, -7.0}}));
    ASSERT_TRUE(dataSet.getAdjustedVectorSigmas(s));
    EXPECT_EQ(s.sigma, (std::array<double, 3>{1e-6, 2e-6, 0.0}));
    EXPECT_EQ(s.correlation, (std::array<double, 3>{1.5, 0.2, -7.0}));  // as given here

    dataSet.setVectorInUse(0);
    AdjustedVector d;
    ASSERT_TRUE(dataSet.setAdjustedVector({1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(dataSet.getAdjustedVector(d), 0);
    EXPECT_EQ(d.deltaZ, 3.0);
    EXPECT_EQ(d.up, 6.0);
}

TEST(DataSetAccessors, AdjustmentSettersAppendARecordNumberedCountPlusOne) {
    AdjustedDataSet dataSet;
    ASSERT_TRUE(dataSet.setAdjustmentSettings({1, 99.0, 3.0}));
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    EXPECT_EQ(dataSet.currentAdjustmentRecord()->recordNumber, 1);
    EXPECT_EQ(dataSet.currentAdjustmentRecord()->minimallyConstrained, 1);
    EXPECT_EQ(dataSet.headerRecord().confidenceLevel, 99.0);
    ASSERT_TRUE(dataSet.setTauCriticalValue(3.2));  // uses the same record
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    EXPECT_EQ(dataSet.tauCriticalValue(), 3.2);

    // A file whose count is -3 holds no record; the appended one is numbered -2.
    ProjectDataSet counted;
    std::vector<std::uint8_t> image = counted.writeImage();
    image[8] = 0xFD;
    image[9] = image[10] = image[11] = 0xFF;
    AdjustedDataSet fromFile;
    ASSERT_TRUE(fromFile.readImage(image));
    EXPECT_EQ(fromFile.tauCriticalValue(), 0.0);
    ASSERT_TRUE(fromFile.setUnitWeightStandardError(1.25));
    EXPECT_EQ(fromFile.adjustmentRecordCount(), -2);
    EXPECT_EQ(fromFile.currentAdjustmentRecord()->recordNumber, -2);
    EXPECT_EQ(fromFile.unitWeightStandardError(), 1.25);
    EXPECT_EQ(fromFile.currentAdjustmentRecord()->chiSquare, 1.0);

    AdjustmentCounts counts;
    ASSERT_TRUE(fromFile.setAdjustmentCounts({30, 12, 18, 3}));
    ASSERT_TRUE(fromFile.getAdjustmentCounts(counts));
    EXPECT_EQ(counts.observationCount, 30);
    EXPECT_EQ(counts.degreesOfFreedom, 18);
    EXPECT_EQ(counts.iterationCount, 3);
    double chi[3];
    ASSERT_TRUE(fromFile.setChiSquareTest(17.5, 8.23, 31.53));
    ASSERT_TRUE(fromFile.getChiSquareTest(chi[0], chi[1], chi[2]));
    EXPECT_EQ(chi[1], 8.23);
    ASSERT_TRUE(fromFile.setAdjustmentSucceeded(1));
    EXPECT_EQ(fromFile.adjustmentSucceeded(), 1);
}

TEST(DataSetAccessors, BiasAprioriSigmaRuleAndResultBlock) {
    ProjectDataSet dataSet;
    for (double value : dataSet.biasApriori()) {
        EXPECT_EQ(value, 0.0);
    }
    for (double value : dataSet.biasResultBlock()) {
        EXPECT_EQ(value, 0.0);
    }

    const double apriori[8] = {1.5, 0.0004, -2.0, 0.0, 0.5, -2.0, 1.5, 0.3};
    ASSERT_TRUE(dataSet.setBiasApriori(apriori));
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    const auto& stored = dataSet.currentAdjustmentRecord()->aprioriBias;
    EXPECT_EQ(stored[1], 0.001);
    EXPECT_EQ(stored[3], 0.0);
    EXPECT_EQ(stored[5], 0.001);
    EXPECT_EQ(stored[7], 0.3);
    dataSet.currentAdjustmentRecord()->aprioriBias[7] = 0.0002;
    const auto pairs = dataSet.biasApriori();
    EXPECT_EQ(pairs[2], -2.0);
    EXPECT_EQ(pairs[7], 0.001);

    std::array<double, kBiasResultCount> block;
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = -0.00001 * double(i + 1);  // stored raw: no rule applies here
    }
    ASSERT_TRUE(dataSet.setBiasResultBlock(block));
    EXPECT_EQ(dataSet.biasResultBlock(), block);
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
}

TEST(DataSetAccessors, HeaderTextAndSettings) {
    ProjectDataSet dataSet;
    const std::string longText(300, 't');
    dataSet.setHeaderText(longText.c_str());
    EXPECT_EQ(dataSet.headerText(), std::string(256, 't'));
    dataSet.setHeaderText("short");
    EXPECT_EQ(dataSet.headerText(), "short");
    EXPECT_EQ(dataSet.headerRecord().headerText[5], '\0');
    EXPECT_EQ(dataSet.headerRecord().headerText[255], '\0');
    EXPECT_EQ(dataSet.ellipsoid().semiMajorAxis, 6378137.0);
    EXPECT_EQ(dataSet.ellipsoid().inverseFlattening, 298.257223563);
}

}  // namespace
}  // namespace torvek

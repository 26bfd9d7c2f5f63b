#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <random>

#include "dataset/adjusted_data_set.h"
#include "dataset/data_set_file.h"
#include "support/data_set_bytes.h"

namespace torvek {
namespace {

using testing::Bytes;
using testing::doubleAt;
using testing::int32At;
using testing::putInt32;
using testing::TempFile;

Bytes randomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

// A file of the given counts whose every byte, reserved and padding ones included, is random.
Bytes arbitraryFile(std::int32_t sites, std::int32_t vectors, std::int32_t records,
                    std::uint32_t seed) {
    Bytes bytes = randomBytes(340 + 192 * sites + 381 * vectors + 304 * records, seed);
    putInt32(bytes, 0, sites);
    putInt32(bytes, 4, vectors);
    putInt32(bytes, 8, records);
    return bytes;
}

TEST(DataSetFile, EmptyDataSetIsCountsAndFreshHeader) {
    TempFile file("empty");
    ProjectDataSet dataSet(file.path().c_str());
    ASSERT_TRUE(dataSet.save());
    const Bytes bytes = file.read();
    ASSERT_EQ(bytes.size(), 340u);
    EXPECT_EQ(int32At(bytes, 0), 0);
    EXPECT_EQ(int32At(bytes, 4), 0);
    EXPECT_EQ(int32At(bytes, 8), 0);
    for (std::size_t i = 12 + 8; i < 12 + 264; ++i) {
        ASSERT_EQ(bytes[i], 0) << "header text byte " << i;
    }
    EXPECT_EQ(doubleAt(bytes, 12 + 264), 6378137.0);
    EXPECT_EQ(doubleAt(bytes, 12 + 272), 298.257223563);
    EXPECT_EQ(bytes[12 + 280], 1);
    EXPECT_EQ(bytes[12 + 281], 1);
    EXPECT_EQ(doubleAt(bytes, 12 + 288), 0.0);
    EXPECT_EQ(doubleAt(bytes, 12 + 304), 95.0);
    EXPECT_EQ(doubleAt(bytes, 12 + 312), 1.0);
    EXPECT_EQ(int32At(bytes, 12 + 320), 0);
    EXPECT_EQ(int32At(bytes, 12 + 324), 0);
}

TEST(DataSetFile, RecordsSitAtTheirOffsets) {
    AdjustedDataSet dataSet;
    dataSet.setHeaderText("network");
    dataSet.setReferencePoint(47.5, -8.25);
    ASSERT_TRUE(dataSet.addSite("AB"));
    ASSERT_TRUE(dataSet.setSitePosition({46.1, 7.2, 512.5, 48.25}));
    dataSet.currentSite()->normalizedConstraintResidual[2] = -0.75;
    ASSERT_TRUE(dataSet.addSite("WXYZ"));
    ASSERT_TRUE(dataSet.addVector("AB", "WXYZ"));
    ASSERT_TRUE(dataSet.setVectorComponents({100.5, -200.25, 300.125, 4}));
    ASSERT_TRUE(dataSet.setAdjustedVector({1.5, 2.5, 3.5, 4.5, 5.5, 6.5}));
    double results[12];
    for (int i = 0; i < 12; ++i) {
        results[i] = 10.0 + i;
    }
    ASSERT_TRUE(dataSet.setVectorTestResults(results));
    ASSERT_TRUE(dataSet.setAdjustedVectorSigmas({{0.5, 0.25, 0.125}, {0.1, 0.2, 0.3}}));
    ASSERT_TRUE(dataSet.setAdjustmentSettings({1, 99.0, 2.0}));
    ASSERT_TRUE(dataSet.setAdjustmentCounts({39, 18, 21, 2}));
    ASSERT_TRUE(dataSet.setAdjustmentSucceeded(1));

    const Bytes bytes = dataSet.writeImage();
    ASSERT_EQ(bytes.size(), 1409u);
    EXPECT_EQ(bytes[20], 'n');
    EXPECT_EQ(doubleAt(bytes, 12 + 288), 47.5);
    EXPECT_EQ(doubleAt(bytes, 12 + 304), 99.0);
    EXPECT_EQ(doubleAt(bytes, 12 + 312), 2.0);

    // First site at 340: a two-letter name is padded with two zero bytes.
    EXPECT_EQ(Bytes(bytes.begin() + 340, bytes.begin() + 344), (Bytes{'A', 'B', 0, 0}));
    EXPECT_EQ(int32At(bytes, 344), 1);
    EXPECT_EQ(doubleAt(bytes, 340 + 12), 46.1);
    EXPECT_EQ(doubleAt(bytes, 340 + 36), 48.25);
    EXPECT_EQ(bytes[340 + 71], 1);
    EXPECT_EQ(doubleAt(bytes, 340 + 184), -0.75);
    EXPECT_EQ(int32At(bytes, 532 + 4), 2);

    // The vector at 724: doubles after the flag byte sit at odd offsets.
    const std::size_t v = 724;
    EXPECT_EQ(Bytes(bytes.begin() + v, bytes.begin() + v + 8),
              (Bytes{'A', 'B', 0, 0, 'W', 'X', 'Y', 'Z'}));
    EXPECT_EQ(int32At(bytes, v + 8), 1);
    EXPECT_EQ(doubleAt(bytes, v + 16), 100.5);
    EXPECT_EQ(doubleAt(bytes, v + 32), 300.125);
    EXPECT_EQ(int32At(bytes, v + 136), 4);
    EXPECT_EQ(bytes[v + 140], 1);
    EXPECT_EQ(doubleAt(bytes, v + 141), 1.5);
    EXPECT_EQ(doubleAt(bytes, v + 181), 6.5);
    EXPECT_EQ(doubleAt(bytes, v + 189), 10.0);
    EXPECT_EQ(doubleAt(bytes, v + 277), 21.0);
    EXPECT_EQ(doubleAt(bytes, v + 333), 0.5);
    EXPECT_EQ(doubleAt(bytes, v + 373), 0.3);

    // The adjustment record at 1105.
    const std::size_t a = 1105;
    EXPECT_EQ(int32At(bytes, a + 8), 1);
    EXPECT_EQ(bytes[a + 12], 1);
    EXPECT_EQ(int32At(bytes, a + 240), 39);
    EXPECT_EQ(int32At(bytes, a + 252), 2);
    for (std::size_t offset = 256; offset <= 288; offset += 8) {
        EXPECT_EQ(doubleAt(bytes, a + offset), 1.0) << offset;
    }
    EXPECT_EQ(bytes[a + 296], 1);
}

TEST(DataSetFile, ReadAndWriteReproduceEveryByte) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        Bytes original = arbitraryFile(seed % 3, (seed / 3) % 4, seed % 2 + (seed == 7), seed);
        // A signalling NaN with a payload must come back bit for bit as well.
        const Bytes signallingNan = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x7F};
        std::copy(signallingNan.begin(), signallingNan.end(), original.begin() + 12 + 264);
        TempFile in("roundtrip-in");
        TempFile out("roundtrip-out");
        in.write(original);
        ProjectDataSet dataSet;
        ASSERT_TRUE(dataSet.readFile(in.path()));
        ASSERT_TRUE(dataSet.writeFile(out.path()));
        ASSERT_EQ(out.read(), original) << "seed " << seed;
    }
}

// The fields a run writes, as byte ranges [first, end) of each record: the "output" rows of
// docs/data-set-format.md.
struct OutputBytes {
    std::size_t recordSize;
    std::vector<std::pair<std::size_t, std::size_t>> ranges;
};
const OutputBytes kSiteOutput{192, {{72, 192}}};
const OutputBytes kVectorOutput{381, {{88, 136}, {141, 381}}};
const OutputBytes kRecordOutput{304, {{128, 297}}};

bool isOutputByte(const OutputBytes& kind, std::size_t offsetInRecord) {
    return std::any_of(kind.ranges.begin(), kind.ranges.end(), [&](const auto& range) {
        return offsetInRecord >= range.first && offsetInRecord < range.second;
    });
}

TEST(DataSetFile, ClearingRunResultsResetsEveryOutputFieldAndNothingElse) {
    constexpr std::int32_t kSites = 2, kVectors = 3, kRecords = 2;
    const Bytes original = arbitraryFile(kSites, kVectors, kRecords, 99);
    DataSetContents contents;
    ASSERT_TRUE(decodeDataSet(original, contents));
    clearRunResults(contents);
    const Bytes cleared = encodeDataSet(contents);

    DataSetContents fresh;
    fresh.siteCount = kSites, fresh.vectorCount = kVectors, fresh.adjustmentRecordCount = kRecords;
    fresh.sites.resize(kSites), fresh.vectors.resize(kVectors);
    fresh.adjustmentRecords.resize(kRecords);
    const Bytes freshBytes = encodeDataSet(fresh);
    ASSERT_EQ(cleared.size(), original.size());
    ASSERT_EQ(freshBytes.size(), original.size());

    std::size_t at = 340;
    for (const auto& [kind, count] :
         {std::pair{kSiteOutput, kSites}, std::pair{kVectorOutput, kVectors},
          std::pair{kRecordOutput, kRecords}}) {
        for (std::int32_t record = 0; record < count; ++record, at += kind.recordSize) {
            for (std::size_t i = 0; i < kind.recordSize; ++i) {
                const bool output = isOutputByte(kind, i);
                EXPECT_EQ(cleared[at + i], output ? freshBytes[at + i] : original[at + i])
                    << (output ? "output" : "input") << " byte " << i << " of a " << kind.recordSize
                    << "-byte record";
            }
        }
    }
    EXPECT_TRUE(std::equal(cleared.begin(), cleared.begin() + 340, original.begin()));
}

TEST(DataSetFile, CursorsStandOnTheLastRecordsAndNumbersContinue) {
    ProjectDataSet source;
    ASSERT_TRUE(source.addSite("P1"));
    ASSERT_TRUE(source.addSite("P2"));
    ASSERT_TRUE(source.addVector("P1", "P2"));
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.readImage(source.writeImage()));
    EXPECT_STREQ(SiteName(dataSet.siteName()).toString().c_str(), "P2");
    EXPECT_STREQ(SiteName(dataSet.vectorToSite()).toString().c_str(), "P2");
    EXPECT_EQ(dataSet.currentAdjustmentRecord(), nullptr);
    ASSERT_TRUE(dataSet.addSite("P3"));
    EXPECT_EQ(dataSet.currentSite()->recordNumber, 3);
    EXPECT_EQ(dataSet.siteCount(), 3);
}

TEST(DataSetFile, ShortFileFillsMissingRecordsWithDefaults) {
    // Counts announce 2 sites, 1 vector, 1 record; the file ends 20 bytes into the second site.
    Bytes bytes = arbitraryFile(2, 1, 1, 99);
    bytes.resize(340 + 192 + 20);
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.readImage(bytes));
    ASSERT_EQ(dataSet.sites().size(), 2u);
    const SiteRecord& cut = dataSet.sites()[1];
    EXPECT_EQ(cut.recordNumber, int32At(bytes, 532 + 4));  // wholly present
    EXPECT_EQ(cut.longitude, 0.0);                         // offset 20 starts at the cut
    EXPECT_EQ(cut.inUse, 1);
    ASSERT_EQ(dataSet.vectors().size(), 1u);
    EXPECT_EQ(dataSet.vectors()[0].recordNumber, -1);
    EXPECT_EQ(dataSet.vectors()[0].inUse, 1);
    EXPECT_EQ(dataSet.vectors()[0].weightDivisor, 2);
    ASSERT_EQ(dataSet.adjustmentRecords().size(), 1u);
    EXPECT_EQ(dataSet.adjustmentRecords()[0].chiSquareUpper, 1.0);
    EXPECT_EQ(dataSet.adjustmentRecords()[0].unitWeightStandardError, 1.0);
    EXPECT_EQ(dataSet.writeImage().size(), 1409u);
}

TEST(DataSetFile, HeaderFieldsBeyondTheEndKeepTheirValues) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("OLD"));
    dataSet.setEllipsoid(6378388.0, 297.0);
    Bytes bytes = arbitraryFile(0, 0, 0, 5);
    bytes.resize(12 + 276);  // the semi-major axis is there, the flattening is cut
    ASSERT_TRUE(dataSet.readImage(bytes));
    EXPECT_EQ(dataSet.ellipsoid().semiMajorAxis, doubleAt(bytes, 12 + 264));
    EXPECT_EQ(dataSet.ellipsoid().inverseFlattening, 297.0);
    EXPECT_TRUE(dataSet.sites().empty());
}

TEST(DataSetFile, EmptyFileReadsAsEmptyDataSetAndMissingFileChangesNothing) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("KEEP"));
    dataSet.setReferencePoint(12.0, 34.0);
    EXPECT_FALSE(dataSet.readFile("/nonexistent-dir/none.dat"));
    EXPECT_EQ(dataSet.siteCount(), 1);
    EXPECT_FALSE(dataSet.readFile(std::filesystem::temp_directory_path().string()));
    EXPECT_EQ(dataSet.siteCount(), 1);

    TempFile empty("zero-length");
    empty.write({});
    ASSERT_TRUE(dataSet.readFile(empty.path()));
    EXPECT_EQ(dataSet.siteCount(), 0);
    EXPECT_FALSE(dataSet.firstSite());
    EXPECT_EQ(dataSet.referencePoint().latitude, 12.0);
}

TEST(DataSetFile, NegativeCountsReadNoRecordsAndWriteBack) {
    Bytes bytes = arbitraryFile(0, 1, 0, 11);
    putInt32(bytes, 0, -3);
    putInt32(bytes, 8, INT_MIN);
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.readImage(bytes));
    EXPECT_TRUE(dataSet.sites().empty());
    EXPECT_EQ(dataSet.vectors().size(), 1u);
    EXPECT_EQ(dataSet.siteCount(), -3);
    EXPECT_EQ(dataSet.writeImage(), bytes);
    ASSERT_TRUE(dataSet.addSite("NEW"));
    EXPECT_EQ(dataSet.currentSite()->recordNumber, -2);
}

TEST(DataSetFile, CountsBeyondTheBoundFailAndLeaveTheDataSetAlone) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("KEEP"));
    const Bytes unchanged = dataSet.writeImage();

    // One whole site in the file: the bound is that site plus the allowance.
    Bytes bytes = arbitraryFile(1, 0, 0, 3);
    putInt32(bytes, 0, static_cast<std::int32_t>(1 + kMissingRecordAllowance + 1));
    EXPECT_FALSE(dataSet.readImage(bytes));
    putInt32(bytes, 0, 1);
    putInt32(bytes, 4, INT_MAX);
    EXPECT_FALSE(dataSet.readImage(bytes));
    putInt32(bytes, 4, 0);
    putInt32(bytes, 8, static_cast<std::int32_t>(kMissingRecordAllowance + 1));
    EXPECT_FALSE(dataSet.readImage(bytes));
    EXPECT_EQ(dataSet.writeImage(), unchanged);

    putInt32(bytes, 0, static_cast<std::int32_t>(1 + kMissingRecordAllowance));
    putInt32(bytes, 8, 0);
    ASSERT_TRUE(dataSet.readImage(bytes));
    EXPECT_EQ(dataSet.sites().size(), 1 + kMissingRecordAllowance);
    EXPECT_EQ(dataSet.sites().back().recordNumber, -1);
}

TEST(DataSetFile, WriteFailuresAreReported) {
    ProjectDataSet dataSet;
    EXPECT_FALSE(dataSet.writeFile("/nonexistent-dir/out.dat"));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(dataSet.writeFile("/dev/full"));
    }
}

TEST(DataSetFile, FileNameLoadSaveAndReset) {
    ProjectDataSet unnamed;
    EXPECT_FALSE(unnamed.load());
    EXPECT_FALSE(unnamed.save());

    const std::string longName(300, 'n');
    unnamed.setFileName(longName.c_str());
    EXPECT_EQ(unnamed.fileName(), std::string(260, 'n'));

    TempFile file("reset");
    ProjectDataSet dataSet(file.path().c_str());
    ASSERT_TRUE(dataSet.addSite("A"));
    dataSet.setHeaderText("kept");
    ASSERT_TRUE(dataSet.save());
    ASSERT_TRUE(std::filesystem::exists(file.path()));
    dataSet.resetFile();
    EXPECT_FALSE(std::filesystem::exists(file.path()));
    EXPECT_EQ(dataSet.siteCount(), 0);
    EXPECT_EQ(dataSet.headerText(), "kept");
    EXPECT_EQ(dataSet.fileName(), file.path());
    dataSet.resetFile();  // deleting a missing file is not an error
    EXPECT_FALSE(dataSet.load());
}

}  // namespace
}  // namespace torvek

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <random>

#include "dataset/adjusted_data_set.h"
#include "geodesy/vector_precision.h"
#include "support/data_set_bytes.h"

namespace torvek {
namespace {

using testing::Bytes;
using testing::int32At;
using testing::putInt32;
using testing::TempFile;

class FileGenerator {
  public:
    explicit FileGenerator(std::uint32_t seed) : random_(seed) {}

    Bytes next() {
        switch (pick(4)) {
            case 0:
                return noise(pick(2000));
            case 1:
                return wellFormed();
            default:
                return mutate(wellFormed());
        }
    }

    std::uint32_t pick(std::uint32_t bound) { return random_() % bound; }

  private:
    Bytes noise(std::size_t size) {
        Bytes bytes(size);
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random_());
        }
        return bytes;
    }

    Bytes wellFormed() {
        const auto sites = static_cast<std::int32_t>(pick(4));
        const auto vectors = static_cast<std::int32_t>(pick(4));
        const auto records = static_cast<std::int32_t>(pick(3));
        Bytes bytes = noise(340 + 192 * sites + 381 * vectors + 304 * records);
        putInt32(bytes, 0, sites);
        putInt32(bytes, 4, vectors);
        putInt32(bytes, 8, records);
        // Printable names now and then, so that lookups find something.
        for (std::size_t at = 340; at + 4 <= bytes.size() && pick(2) == 0; at += 192) {
            for (std::size_t i = 0; i < 4; ++i) {
                bytes[at + i] = static_cast<std::uint8_t>("ABab"[pick(4)]);
            }
        }
        return bytes;
    }

    Bytes mutate(Bytes bytes) {
        static const std::int32_t kCounts[] = {-1, INT_MIN, INT_MAX, 0, 1, 7, 1000, 200000};
        const std::uint32_t flips = pick(8);
        for (std::uint32_t i = 0; i < flips && !bytes.empty(); ++i) {
            bytes[pick(static_cast<std::uint32_t>(bytes.size()))] ^=
                static_cast<std::uint8_t>(1u << pick(8));
        }
        if (pick(3) == 0) {
            putInt32(bytes, 4 * pick(3),
                     pick(4) == 0 ? static_cast<std::int32_t>(random_()) : kCounts[pick(8)]);
        }
        if (pick(3) == 0) {
            bytes.resize(pick(static_cast<std::uint32_t>(bytes.size()) + 1));
        } else if (pick(4) == 0) {
            const Bytes tail = noise(pick(500));
            bytes.insert(bytes.end(), tail.begin(), tail.end());
        }
        return bytes;
    }

    std::mt19937 random_;
};

std::size_t imageSize(std::int32_t sites, std::int32_t vectors, std::int32_t records) {
    return 340 + 192 * static_cast<std::size_t>(std::max(sites, 0)) +
           381 * static_cast<std::size_t>(std::max(vectors, 0)) +
           304 * static_cast<std::size_t>(std::max(records, 0));
}

// Runs the lookups and accessors over whatever the file held and checks what must always hold.
void exercise(AdjustedDataSet& dataSet) {
    for (bool more = dataSet.firstVector(); more; more = dataSet.nextVector()) {
        ComponentPrecision stored;
        ASSERT_TRUE(dataSet.getVectorCovariance(stored));
        const std::array<double, 3>& s = stored.sigma;
        const Vector3 c = vectorCorrelations(stored.sigma, stored.correlation);
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(std::isnan(s[i]) || (s[i] >= 0.001 && s[i] <= 100.0));
            ASSERT_LE(std::fabs(c[i]), 1.0);
        }
    }
    // Long lists come from counts beyond the file; a few records of them are enough.
    const std::size_t vectorCount = std::min<std::size_t>(dataSet.vectors().size(), 8);
    for (std::size_t i = 0; i < vectorCount; ++i) {
        ASSERT_TRUE(dataSet.firstVector());
        for (std::size_t k = 0; k < i; ++k) {
            dataSet.nextVector();
        }
        VectorLabel label;
        ASSERT_TRUE(dataSet.vectorLabels(label));
        ASSERT_EQ(label.to[14], '\0');
        if (dataSet.seekVector(label)) {
            ASSERT_EQ(dataSet.currentVector()->recordNumber, vectorLabelNumber(label.to.data()));
        }
    }
    const std::size_t siteCount = std::min<std::size_t>(dataSet.sites().size(), 8);
    const std::vector<SiteRecord> sites(dataSet.sites().begin(),
                                        dataSet.sites().begin() + siteCount);
    for (const SiteRecord& site : sites) {
        ASSERT_TRUE(dataSet.seekSite(site.name.data()));
        ASSERT_TRUE(*dataSet.currentSite() == site);
        double v, z;
        dataSet.setConstraintResidual(static_cast<std::int32_t>(site.recordNumber % 5), 1.0, 2.0);
        dataSet.getConstraintResidual(site.recordNumber, v, z);
    }
    const auto bias = dataSet.biasApriori();
    for (std::size_t i = 1; i < bias.size(); i += 2) {
        ASSERT_TRUE(std::isnan(bias[i]) || bias[i] == 0.0 || bias[i] >= 0.001) << bias[i];
    }
    dataSet.setAdjustmentSucceeded(1);
    ASSERT_TRUE(dataSet.addSite("NEW"));
    ASSERT_TRUE(dataSet.addVector("NEW", "NEW"));
}

TEST(DataSetRandomFiles, RandomAndMutatedFilesNeverBreakTheReader) {
    FileGenerator generator(20240607);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        const Bytes file = generator.next();
        AdjustedDataSet dataSet;
        if (!dataSet.readImage(file)) {
            ASSERT_EQ(dataSet.writeImage().size(), 340u) << "a failed read changed the data set";
            continue;
        }
        ++accepted;
        const Bytes image = dataSet.writeImage();
        const std::size_t expected =
            imageSize(dataSet.siteCount(), dataSet.vectorCount(), dataSet.adjustmentRecordCount());
        ASSERT_EQ(image.size(), expected) << "round " << round;
        if (file.size() >= expected) {
            ASSERT_TRUE(std::equal(image.begin(), image.end(), file.begin())) << "round " << round;
        }
        AdjustedDataSet again;
        ASSERT_TRUE(again.readImage(image));
        ASSERT_EQ(again.writeImage(), image) << "round " << round;

        if (round % 100 == 0) {
            TempFile temp("random");
            temp.write(file);
            AdjustedDataSet fromFile;
            ASSERT_TRUE(fromFile.readFile(temp.path()));
            ASSERT_EQ(fromFile.writeImage(), image);
        }
        exercise(dataSet);
    }
    EXPECT_GT(accepted, 1000);
}

}  // namespace
}  // namespace torvek

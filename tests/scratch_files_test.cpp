// Scratch files held in memory, moved to their temporary file past the memory limit, or kept on
// the file from the start: the same fields come back in every case, and the adjustment stores the
// same bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/adjustment_engine.h"
#include "support/in_process_front_end.h"
#include "support/synthetic_network.h"

namespace torvek::testing {
namespace {

// Installs a scratch memory limit and a temporary-file opener for one test.
struct ScratchSetting {
    ScratchSetting(std::size_t limit, TemporaryFileOpener opener = nullptr) {
        setScratchMemoryLimit(limit);
        setTemporaryFileOpener(opener);
    }
    ~ScratchSetting() {
        setScratchMemoryLimit(kDefaultScratchMemoryLimit);
        setTemporaryFileOpener(nullptr);
    }
};

struct LimitCase {
    const char* name;
    std::size_t limit;
    bool endsOnFile;
};

// Every byte on the file; memory for the first chunk, then the file; memory throughout.
const LimitCase kLimits[] = {
    {"file only", 0, true},
    {"moved to the file", ScratchFile::kChunkSize, true},
    {"memory", kDefaultScratchMemoryLimit, false},
};

// Fields of record k, crossing chunk boundaries at varying offsets (12 or 17 bytes each).
std::int32_t intOf(int k) {
    return k * 7919 - 1000000;
}
double doubleOf(int k) {
    return k * 0.1 - 3.5e10;
}

TEST(ScratchFile, FieldsComeBackAsWrittenWhereverTheyAreHeld) {
    constexpr int kRecords = 20000;  // about 290 KB: several chunks
    for (const LimitCase& c : kLimits) {
        SCOPED_TRACE(c.name);
        ScratchSetting setting(c.limit);
        ScratchFile file;
        ASSERT_TRUE(file.open());
        const long patchAt = file.position();
        ASSERT_EQ(patchAt, 0);
        ASSERT_TRUE(file.putInt32(0));  // patched below, as the vector loader patches its count
        long expectedSize = 4;
        for (int k = 0; k < kRecords; ++k) {
            ASSERT_TRUE(file.putInt32(intOf(k)));
            ASSERT_TRUE(file.putDouble(doubleOf(k)));
            expectedSize += 12;
            if (k % 3 == 0) {
                ASSERT_TRUE(file.putBytes("LABEL", 5));
                expectedSize += 5;
            }
        }
        EXPECT_EQ(file.position(), expectedSize);
        ASSERT_TRUE(file.seek(patchAt));
        ASSERT_TRUE(file.putInt32(kRecords));
        ASSERT_TRUE(file.seekEnd());
        EXPECT_EQ(file.position(), expectedSize);
        ASSERT_TRUE(file.flush());
        EXPECT_EQ(file.onFile(), c.endsOnFile);

        // Read twice, as the equations are read by the solve and again by the tests.
        for (int pass = 0; pass < 2; ++pass) {
            file.rewind();
            std::int32_t count = 0;
            ASSERT_TRUE(file.getInt32(count));
            ASSERT_EQ(count, kRecords);
            for (int k = 0; k < kRecords; ++k) {
                std::int32_t i = 0;
                double d = 0;
                ASSERT_TRUE(file.getInt32(i) && file.getDouble(d)) << k;
                ASSERT_EQ(i, intOf(k));
                ASSERT_EQ(d, doubleOf(k));
                if (k % 3 == 0) {
                    char label[5];
                    ASSERT_TRUE(file.getBytes(label, 5));
                    ASSERT_EQ(std::string(label, 5), "LABEL");
                }
            }
            EXPECT_EQ(file.position(), expectedSize);
            double beyond = 1.0;
            EXPECT_FALSE(file.getDouble(beyond));
            EXPECT_EQ(beyond, 0.0);
        }
        EXPECT_FALSE(file.failed());
    }
}

TEST(ScratchFile, RewritingFromTheStartKeepsTheLengthAndLaterBytes) {
    for (const LimitCase& c : kLimits) {
        SCOPED_TRACE(c.name);
        ScratchSetting setting(c.limit);
        ScratchFile file;
        ASSERT_TRUE(file.open());
        for (int k = 0; k < 10000; ++k)
            ASSERT_TRUE(file.putDouble(k));
        file.rewind();
        // A second iteration writes its equations over the first's from the start.
        for (int k = 0; k < 5000; ++k)
            ASSERT_TRUE(file.putDouble(-k));
        file.rewind();
        for (int k = 0; k < 10000; ++k) {
            double d = 0;
            ASSERT_TRUE(file.getDouble(d));
            ASSERT_EQ(d, k < 5000 ? -k : k) << k;
        }
    }
}

TEST(ScratchFile, WritingPastTheEndLeavesZerosBetween) {
    for (const LimitCase& c : kLimits) {
        SCOPED_TRACE(c.name);
        ScratchSetting setting(c.limit);
        ScratchFile file;
        ASSERT_TRUE(file.open());
        // Some garbage in memory first, written over and given back, so that fresh chunks may
        // reuse it.
        for (int k = 0; k < 30000; ++k)
            ASSERT_TRUE(file.putDouble(-1.0));
        file.close();
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.putInt32(7));
        const long gapEnd = 3 * long(ScratchFile::kChunkSize) + 5;
        ASSERT_TRUE(file.seek(gapEnd));
        ASSERT_TRUE(file.putInt32(9));
        file.rewind();
        std::int32_t value = 0;
        ASSERT_TRUE(file.getInt32(value));
        EXPECT_EQ(value, 7);
        for (long at = 4; at < gapEnd; ++at) {
            char byte = 1;
            ASSERT_TRUE(file.getBytes(&byte, 1)) << at;
            ASSERT_EQ(byte, 0) << at;
        }
        ASSERT_TRUE(file.getInt32(value));
        EXPECT_EQ(value, 9);
    }
}

TEST(ScratchFile, AFullDiskIsSeenOnceTheContentReachesTheFile) {
    const std::size_t limits[] = {0, ScratchFile::kChunkSize};
    for (std::size_t limit : limits) {
        ScratchSetting setting(limit, [] { return std::fopen("/dev/full", "w+b"); });
        ScratchFile file;
        ASSERT_TRUE(file.open());
        for (int k = 0; k < 20000; ++k)
            file.putDouble(k);
        EXPECT_FALSE(file.flush()) << limit;
        EXPECT_TRUE(file.failed()) << limit;
    }
}

// One whole adjustment in this process; the output data set's bytes.
std::vector<std::uint8_t> adjustedImage(const ProjectDataSet& input) {
    InProcessFrontEnd frontEnd;
    ProjectDataSet in = input;
    AdjustedDataSet out;
    static_cast<ProjectDataSet&>(out) = input;
    AdjustmentSettings settings;
    settings.overConstrained = true;
    AdjustmentEngine engine(in, out, frontEnd.report(), frontEnd.progress(), settings);
    EXPECT_TRUE(engine.adjust()) << frontEnd.reportText();
    return out.writeImage();
}

TEST(ScratchFile, AdjustmentStoresTheSameBytesFromMemoryAndFromTheFile) {
    // 150 sites, 300 vectors: 126 KB of equations, which pass the one-chunk limit.
    SyntheticNetwork net = ringNetwork(150, 47.0, 8.0, 20000);
    fixSite(net.sites[0]);
    net.sites[75].fixed[2] = true;
    net.simulate(3);
    const ProjectDataSet input = net.toDataSet();
    std::vector<std::vector<std::uint8_t>> images;
    for (const LimitCase& c : kLimits) {
        ScratchSetting setting(c.limit);
        images.push_back(adjustedImage(input));
    }
    ASSERT_FALSE(images[0].empty());
    EXPECT_TRUE(images[0] == images[1]);
    EXPECT_TRUE(images[0] == images[2]);
}

}  // namespace
}  // namespace torvek::testing

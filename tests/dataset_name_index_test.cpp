// The lookup indexes against the ordered scans they replace, on random data sets: names of every
// length with blanks, NULs, letters of both cases and bytes above 127; record numbers as the data
// set gives them or shuffled, repeated, negative and large; records added and renamed between
// lookups. The scans here are written from the lookup rules, not taken from the code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "dataset/name_index.h"
#include "dataset/project_data_set.h"

namespace torvek {
namespace {

// The rules: at most four characters, up to the first NUL, letters A to Z matching a to z for
// sites only.
bool sameName(const char* a, const char* b, bool ignoreCase) {
    static const char kEmpty[1] = {'\0'};
    a = a != nullptr ? a : kEmpty;
    b = b != nullptr ? b : kEmpty;
    for (int i = 0; i < 4; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (ignoreCase) {
            ca = (ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
            cb = (cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        }
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
    return true;
}

// The first site of that name, or null.
const SiteRecord* scanSite(const ProjectDataSet& dataSet, const char* name) {
    char key[4] = {0, 0, 0, 0};
    for (int i = 0; name != nullptr && i < 4 && name[i] != '\0'; ++i)
        key[i] = name[i];
    for (const SiteRecord& site : dataSet.sites())
        if (sameName(site.name.data(), key, true))
            return &site;
    return nullptr;
}

// The first vector of those names numbered at least the wanted number decides; null unless its
// number is the wanted one.
const VectorRecord* scanVector(const ProjectDataSet& dataSet, const char* label1,
                               const char* label2) {
    const std::int32_t wanted = vectorLabelNumber(label2);
    if (wanted < 0)
        return nullptr;
    for (const VectorRecord& vector : dataSet.vectors()) {
        if (vector.recordNumber >= wanted && sameName(vector.fromSite.data(), label1, false) &&
            sameName(vector.toSite.data(), label2, false))
            return vector.recordNumber == wanted ? &vector : nullptr;
    }
    return nullptr;
}

// Names that collide in every way the rules allow: case, length, NULs inside, blanks. Few names
// (`crowded`) put many vectors between the same two names, with their numbers in any order.
std::string randomName(std::mt19937& random, bool crowded = false) {
    // Labels print names right-aligned, so only four-character names are found through them.
    static const char* const kCrowded[] = {"ABCD", "abcd", "ABcd", "A B ", "AB"};
    if (crowded)
        return kCrowded[random() % 5];
    static const char kBytes[] = {'A', 'a', 'B', 'b', '1', ' ', '\0', '\xE9'};
    std::string name(4, '\0');
    const int length = int(random() % 5);
    for (int i = 0; i < length; ++i)
        name[i] = kBytes[random() % sizeof kBytes];
    return name;
}

std::int32_t randomNumber(std::mt19937& random, bool crowded = false) {
    if (crowded)
        return std::int32_t(random() % 12);
    switch (random() % 4) {
        case 0:
            return std::int32_t(random() % 40) - 5;  // small, repeated, negative
        case 1:
            return std::int32_t(random() % 200000);  // up to six digits
        default:
            return std::int32_t(random() % 300);
    }
}

void checkLookups(ProjectDataSet& dataSet, std::mt19937& random, int queries,
                  bool crowded = false) {
    for (int q = 0; q < queries; ++q) {
        // Names and labels of records present, or made up.
        std::string name = randomName(random, crowded);
        if (!dataSet.sites().empty() && random() % 2 == 0)
            name = dataSet.sites()[random() % dataSet.sites().size()].name.toString();
        const SiteRecord* expectedSite = scanSite(dataSet, name.c_str());
        ASSERT_EQ(dataSet.seekSite(name.c_str()), expectedSite != nullptr);
        ASSERT_EQ(std::as_const(dataSet).currentSite(), expectedSite);

        // The labels of a record present or made up, or texts that hold the names as they are
        // stored (short ones NUL-padded, which also ends the number's text).
        VectorLabel label;
        VectorRecord made;
        made.fromSite = SiteName(randomName(random, crowded).c_str());
        made.toSite = SiteName(randomName(random, crowded).c_str());
        made.recordNumber = randomNumber(random, crowded);
        const int form = int(random() % 3);
        if (form == 0 && !dataSet.vectors().empty())
            made = dataSet.vectors()[random() % dataSet.vectors().size()];
        formatVectorLabel(made, label.from.data(), label.to.data());
        if (form == 2) {
            std::memcpy(label.from.data(), made.fromSite.data(), 4);
            std::memcpy(label.to.data(), made.toSite.data(), 4);
        }
        const VectorRecord* expectedVector =
            scanVector(dataSet, label.from.data(), label.to.data());
        const VectorRecord* before = std::as_const(dataSet).currentVector();
        ASSERT_EQ(dataSet.seekVector(label), expectedVector != nullptr);
        if (vectorLabelNumber(label.to.data()) < 0)
            ASSERT_EQ(std::as_const(dataSet).currentVector(), before);  // the cursor stays
        else
            ASSERT_EQ(std::as_const(dataSet).currentVector(), expectedVector);
    }
}

TEST(NameIndex, FindsWhatTheOrderedScansFind) {
    std::mt19937 random(20240607);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        // The numbers addVector gives (1, 2, 3, ...), rising with gaps, anything at all, or a
        // crowd of vectors between few names with few numbers.
        const int numbering = round % 4;
        const bool crowded = numbering == 3;
        ProjectDataSet dataSet;
        const int sites = int(random() % 40);
        for (int k = 0; k < sites; ++k)
            ASSERT_TRUE(dataSet.addSite(randomName(random, crowded).c_str()));
        const int vectors = int(random() % 120);
        std::int32_t number = 0;
        for (int k = 0; k < vectors; ++k) {
            ASSERT_TRUE(dataSet.addVector(randomName(random, crowded).c_str(),
                                          randomName(random, crowded).c_str()));
            number += 1 + std::int32_t(random() % 3);
            if (numbering == 1)
                dataSet.currentVector()->recordNumber = number;
            if (numbering >= 2)
                dataSet.currentVector()->recordNumber = randomNumber(random, crowded);
        }
        // The numbers were set by hand, so this data set scans, and so does a copy; the same
        // data set read from its bytes builds its indexes.
        ProjectDataSet indexed;
        ASSERT_TRUE(indexed.readImage(dataSet.writeImage()));
        checkLookups(indexed, random, 150, crowded);
        ProjectDataSet moved = std::move(dataSet);
        checkLookups(moved, random, 20, crowded);
        dataSet = std::move(moved);

        // Renamed and renumbered by hand, then added to: the lookups follow every change.
        if (!indexed.vectors().empty()) {
            indexed.firstVector();
            indexed.currentVector()->recordNumber = randomNumber(random, crowded);
            indexed.currentVector()->toSite = SiteName(randomName(random, crowded).c_str());
        }
        if (indexed.firstSite())
            indexed.currentSite()->name = SiteName(randomName(random, crowded).c_str());
        checkLookups(indexed, random, 50, crowded);
        ASSERT_TRUE(indexed.addSite(randomName(random, crowded).c_str()));
        ASSERT_TRUE(indexed.addVector(randomName(random, crowded).c_str(),
                                      randomName(random, crowded).c_str()));
        checkLookups(indexed, random, 50, crowded);

        // The data set filled by hand scans and answers the same.
        checkLookups(dataSet, random, 20, crowded);
    }
}

TEST(NameIndex, LabelsAreThePrintedFormats) {
    std::mt19937 random(77);
    for (int k = 0; k < 20000; ++k) {
        VectorRecord vector;
        vector.fromSite = SiteName(randomName(random).c_str());
        vector.toSite = SiteName(randomName(random).c_str());
        const std::int32_t numbers[] = {randomNumber(random),
                                        std::int32_t(random() % 100000),
                                        99999,
                                        100000,
                                        0,
                                        -1,
                                        2147483647};
        vector.recordNumber = numbers[k % 7];
        char expected[2][kVectorLabelSize] = {};
        char digits[16];
        std::snprintf(expected[0], kVectorLabelSize, "%4.4s          ", vector.fromSite.data());
        if (vector.recordNumber > 99999) {
            std::snprintf(digits, sizeof digits, "%10d", int(vector.recordNumber));
            std::snprintf(expected[1], kVectorLabelSize, "%4.4s%.10s", vector.toSite.data(),
                          digits);
        } else {
            std::snprintf(digits, sizeof digits, "%05d", int(vector.recordNumber));
            std::snprintf(expected[1], kVectorLabelSize, "%4.4s     %.5s", vector.toSite.data(),
                          digits);
        }
        char label[2][kVectorLabelSize];
        std::memset(label, '#', sizeof label);
        formatVectorLabel(vector, label[0], label[1]);
        ASSERT_EQ(std::memcmp(label, expected, sizeof label), 0)
            << vector.recordNumber << " '" << label[0] << "' '" << label[1] << "'";
    }
}

// The number a label names, by its rule: from the fifth character, blanks skipped, a sign, digits;
// never past the terminator or the fifteenth byte; held within the int32 range.
std::int64_t ruleNumber(const char* label) {
    std::size_t end = 0;
    while (end < kVectorLabelSize && label[end] != '\0')
        ++end;
    std::size_t i = 4;
    while (i < end && std::strchr(" \t\n\v\f\r", label[i]) != nullptr)
        ++i;
    bool negative = false;
    if (i < end && (label[i] == '+' || label[i] == '-'))
        negative = label[i++] == '-';
    std::int64_t value = 0;
    while (i < end && label[i] >= '0' && label[i] <= '9')
        value = value * 10 + (label[i++] - '0');
    return std::clamp<std::int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX);
}

TEST(NameIndex, LabelNumbersFollowTheirRule) {
    std::mt19937 random(5);
    static const char kBytes[] = {' ', '0', '7', '9', '-', '+', 'A', '\0', '\t'};
    for (int k = 0; k < 50000; ++k) {
        char label[kVectorLabelSize];
        if (k % 2 == 0) {
            VectorRecord vector;
            vector.toSite = SiteName(randomName(random).c_str());
            vector.recordNumber = randomNumber(random);
            char unused[kVectorLabelSize];
            formatVectorLabel(vector, unused, label);
        } else {
            for (char& c : label)
                c = kBytes[random() % sizeof kBytes];
        }
        // One byte changed, now and then, in a label of the usual form.
        if (k % 7 == 0)
            label[random() % kVectorLabelSize] = kBytes[random() % sizeof kBytes];
        ASSERT_EQ(vectorLabelNumber(label), ruleNumber(label)) << std::string(label, 15);
    }
}

// Names numbered in one series share their first bytes. Their slots must spread over the table as
// a good hash spreads them, or every lookup of a run walks long chains of taken slots: 500 names
// P001 ... P500 in the 1024 slots that twice as many entries round up to, inserted with linear
// probing, each found again within a few steps. (The low bits of the product, which follow the
// first bytes only, make the longest probe 62 slots.)
TEST(NameIndex, SlotsOfNumberedNamesSpreadOverTheTable) {
    constexpr std::size_t kSlots = 1024;
    std::vector<bool> taken(kSlots, false);
    std::size_t longestProbe = 0;
    for (int k = 1; k <= 500; ++k) {
        char name[8];
        std::snprintf(name, sizeof name, "P%03d", k);
        std::size_t slot = nameKeySlot(siteNameKey(name, false), kSlots);
        ASSERT_LT(slot, kSlots);
        std::size_t probe = 1;
        for (; taken[slot]; slot = (slot + 1) % kSlots)
            ++probe;
        taken[slot] = true;
        longestProbe = std::max(longestProbe, probe);
    }
    EXPECT_LE(longestProbe, 16u);
}

}  // namespace
}  // namespace torvek

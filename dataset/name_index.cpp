#include "dataset/name_index.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <new>

namespace torvek {
namespace {

std::uint32_t foldAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

// Positions are kept in 32 bits; a longer list (which no file can hold) is scanned instead.
bool fitsIndex(std::size_t size) {
    return size <= std::numeric_limits<std::uint32_t>::max();
}

std::uint64_t vectorKey(std::uint32_t from, std::uint32_t to) {
    return (std::uint64_t(from) << 32) | to;
}

}  // namespace

std::uint32_t siteNameKey(const char* text, bool ignoreCase) {
    std::uint32_t key = 0;
    for (std::size_t i = 0; text != nullptr && i < kSiteNameSize && text[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        key |= (ignoreCase ? foldAsciiLetter(c) : std::uint32_t(c)) << (8 * i);
    }
    return key;
}

// 2^32 / golden ratio, rounded to odd (Knuth, The Art of Computer Programming, vol. 3, 6.4).
constexpr std::uint32_t kGoldenRatioMultiplier32 = 0x9E3779B1u;

std::size_t nameKeySlot(std::uint32_t key, std::size_t tableSize) {
    const int bits = std::countr_zero(tableSize);
    return static_cast<std::size_t>((key * kGoldenRatioMultiplier32) >> (32 - bits));
}

// ---- Sites -------------------------------------------------------------------------------------

void SiteNameIndex::invalidate() {
    entries_.clear();
    built_ = false;
    trusted_ = true;
}

bool SiteNameIndex::build(const std::vector<SiteRecord>& sites) {
    if (!fitsIndex(sites.size()))
        return false;
    try {
        entries_.resize(sites.size());
    } catch (const std::bad_alloc&) {
        entries_.clear();
        return false;
    }
    for (std::size_t k = 0; k < sites.size(); ++k)
        entries_[k] = {siteNameKey(sites[k].name.data(), true), std::uint32_t(k)};
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.key != b.key ? a.key < b.key : a.position < b.position;
    });
    built_ = true;
    return true;
}

std::size_t SiteNameIndex::find(const std::vector<SiteRecord>& sites, const char* name) {
    const SiteName wanted(name);
    if (!trusted_ || (!built_ && !build(sites))) {
        for (std::size_t k = 0; k < sites.size(); ++k)
            if (sameSiteNameIgnoringCase(sites[k].name, wanted))
                return k;
        return sites.size();
    }
    const std::uint32_t key = siteNameKey(wanted.data(), true);
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), key,
                                        [](const Entry& e, std::uint32_t k) { return e.key < k; });
    return found != entries_.end() && found->key == key ? found->position : sites.size();
}

// ---- Vectors -----------------------------------------------------------------------------------

namespace {

// Fibonacci hashing: the key times 2^64 / golden ratio, top bits.
constexpr std::uint64_t kHashMultiplier = 0x9E3779B97F4A7C15ull;

std::size_t bucketSlot(std::uint64_t key, std::size_t mask) {
    return static_cast<std::size_t>((key * kHashMultiplier) >> 32) & mask;
}

}  // namespace

void VectorNameIndex::invalidate() {
    ascending_ = false;
    entries_.clear();
    buckets_.clear();
    built_ = false;
    trusted_ = true;
}

const VectorNameIndex::Bucket* VectorNameIndex::bucketOf(std::uint64_t key) const {
    const std::size_t mask = buckets_.size() - 1;
    for (std::size_t slot = bucketSlot(key, mask);; slot = (slot + 1) & mask) {
        const Bucket& bucket = buckets_[slot];
        if (bucket.count == 0)
            return nullptr;
        if (entries_[bucket.first].key == key)
            return &bucket;
    }
}

bool VectorNameIndex::build(const std::vector<VectorRecord>& vectors) {
    if (!fitsIndex(vectors.size()))
        return false;
    ascending_ = true;
    for (std::size_t k = 1; k < vectors.size() && ascending_; ++k)
        ascending_ = vectors[k].recordNumber > vectors[k - 1].recordNumber;
    if (ascending_) {
        built_ = true;
        return true;
    }
    return buildByName(vectors);
}

bool VectorNameIndex::buildByName(const std::vector<VectorRecord>& vectors) {
    // Twice the vectors, rounded up to a power of two: at most half the buckets are used.
    std::size_t bucketCount = 2;
    while (bucketCount < 2 * vectors.size())
        bucketCount *= 2;
    try {
        entries_.resize(vectors.size());
        buckets_.assign(bucketCount, Bucket{0, 0});
    } catch (const std::bad_alloc&) {
        entries_.clear();
        buckets_.clear();
        return false;
    }
    for (std::size_t k = 0; k < vectors.size(); ++k) {
        const VectorRecord& v = vectors[k];
        entries_[k] = {
            vectorKey(siteNameKey(v.fromSite.data(), false), siteNameKey(v.toSite.data(), false)),
            std::uint32_t(k), v.recordNumber};
    }
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
        return a.key != b.key ? a.key < b.key : a.position < b.position;
    });
    const std::size_t mask = bucketCount - 1;
    for (std::size_t k = 0; k < entries_.size(); ++k) {
        if (k > 0 && entries_[k].key == entries_[k - 1].key) {
            entries_[k].largestNumber =
                std::max(entries_[k].largestNumber, entries_[k - 1].largestNumber);
            continue;
        }
        std::size_t slot = bucketSlot(entries_[k].key, mask);
        while (buckets_[slot].count != 0)
            slot = (slot + 1) & mask;
        std::size_t end = k + 1;
        while (end < entries_.size() && entries_[end].key == entries_[k].key)
            ++end;
        buckets_[slot] = {std::uint32_t(k), std::uint32_t(end - k)};
    }
    built_ = true;
    return true;
}

std::size_t VectorNameIndex::find(const std::vector<VectorRecord>& vectors, const char* from,
                                  const char* to, std::int32_t wanted) {
    std::size_t found = vectors.size();
    if (!trusted_ || (!built_ && !build(vectors))) {
        for (std::size_t k = 0; k < vectors.size(); ++k) {
            const VectorRecord& v = vectors[k];
            // The number is tested first: it is the cheapest of the three conditions.
            if (v.recordNumber >= wanted && compareSiteNames(v.fromSite.data(), from, false) == 0 &&
                compareSiteNames(v.toSite.data(), to, false) == 0) {
                found = k;
                break;
            }
        }
    } else if (ascending_) {
        // The vector numbered `wanted`, looked for first where the usual numbering puts it.
        const std::size_t usual = static_cast<std::size_t>(wanted) - 1;
        if (wanted >= 1 && usual < vectors.size() && vectors[usual].recordNumber == wanted) {
            found = usual;
        } else {
            const auto first = std::partition_point(
                vectors.begin(), vectors.end(),
                [wanted](const VectorRecord& v) { return v.recordNumber < wanted; });
            found = static_cast<std::size_t>(first - vectors.begin());
        }
        if (found < vectors.size() &&
            (siteNameKey(vectors[found].fromSite.data(), false) != siteNameKey(from, false) ||
             siteNameKey(vectors[found].toSite.data(), false) != siteNameKey(to, false)))
            found = vectors.size();
    } else {
        const Bucket* bucket =
            bucketOf(vectorKey(siteNameKey(from, false), siteNameKey(to, false)));
        if (bucket != nullptr) {
            const auto first = entries_.begin() + bucket->first;
            const auto last = first + bucket->count;
            const auto entry = std::partition_point(
                first, last, [wanted](const Entry& e) { return e.largestNumber < wanted; });
            if (entry != last)
                found = entry->position;
        }
    }
    return found < vectors.size() && vectors[found].recordNumber == wanted ? found : vectors.size();
}

}  // namespace torvek

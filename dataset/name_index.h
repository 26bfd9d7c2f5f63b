#pragma once
// Indexes of a data set's sites and vectors by name. A run looks up every site and vector of the
// output data set several times (connectivity flags, loading, residuals, precisions); an ordered
// scan per lookup makes that grow with the square of the records. Each index is built once from
// its list and answers exactly as the ordered scan does, first match in list order included.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dataset/site_record.h"
#include "dataset/vector_record.h"

namespace torvek {

// The name a text gives, as one number: its bytes up to the first NUL, at most four, the rest
// zero; with ignoreCase the letters A to Z are folded onto a to z first. Two texts have the same
// key exactly when compareSiteNames(a, b, ignoreCase) is 0. A null text has key 0, as the empty
// name.
std::uint32_t siteNameKey(const char* text, bool ignoreCase);

// Where a name key starts its probe in an open-address table of `tableSize` slots, a power of two
// from 2 to 2^31: Fibonacci hashing, the key times 2^32 / golden ratio, the top log2(tableSize)
// bits of the 32-bit product. The top bits depend on every byte of the name; the low bits of the
// product depend only on its first bytes, which names such as P001 ... P232 share, and a table
// led by them would probe long runs of taken slots.
std::size_t nameKeySlot(std::uint32_t key, std::size_t tableSize);

// Finds sites by name ignoring case (ProjectDataSet::seekSite).
class SiteNameIndex {
  public:
    SiteNameIndex() = default;
    // A copy belongs to another list: it starts unbuilt and is built when first used. It keeps
    // the distrust, since a data set moved into another takes its records, and the pointers to
    // them handed out, along.
    SiteNameIndex(const SiteNameIndex& other) : trusted_(other.trusted_) {}
    SiteNameIndex& operator=(const SiteNameIndex& other) {
        invalidate();
        trusted_ = other.trusted_;
        return *this;
    }

    // Position in `sites` of the first site whose name equals the first four characters of
    // `name` ignoring case (compareSiteNames); sites.size() when there is none.
    std::size_t find(const std::vector<SiteRecord>& sites, const char* name);
    // The list changed (records added, replaced or cleared): rebuild before the next lookup.
    void invalidate();
    // A record may change its name without the index seeing it (a record handed out for
    // writing): lookups scan the list in order until the next invalidate.
    void distrust() { trusted_ = false; }

  private:
    struct Entry {
        std::uint32_t key;
        std::uint32_t position;
    };
    bool build(const std::vector<SiteRecord>& sites);

    std::vector<Entry> entries_;  // by key, then by position
    bool built_ = false;
    bool trusted_ = true;
};

// Finds vectors by their end names (case-sensitive) and record number
// (ProjectDataSet::seekVector).
class VectorNameIndex {
  public:
    VectorNameIndex() = default;
    VectorNameIndex(const VectorNameIndex& other) : trusted_(other.trusted_) {}
    VectorNameIndex& operator=(const VectorNameIndex& other) {
        invalidate();
        trusted_ = other.trusted_;
        return *this;
    }

    // What the ordered scan of seekVector finds, `wanted` >= 0: the first vector in list order
    // whose start and end names equal the first four characters of `from` and `to`
    // (compareSiteNames, case-sensitive) and whose record number is at least `wanted` decides.
    // Its position when its number is `wanted`; vectors.size() when it has a larger number or
    // there is no such vector.
    std::size_t find(const std::vector<VectorRecord>& vectors, const char* from, const char* to,
                     std::int32_t wanted);
    void invalidate();
    void distrust() { trusted_ = false; }

  private:
    struct Entry {
        std::uint64_t key;  // start name key, end name key
        std::uint32_t position;
        // The largest record number among the vectors of this key up to this one in list
        // order: never decreasing along a key's entries, so the first vector numbered at least
        // the wanted number is found by bisection.
        std::int32_t largestNumber;
    };
    // Where the entries of one key lie in entries_: [first, first + count).
    struct Bucket {
        std::uint32_t first;
        std::uint32_t count;  // 0: an empty bucket
    };
    bool build(const std::vector<VectorRecord>& vectors);
    bool buildByName(const std::vector<VectorRecord>& vectors);
    const Bucket* bucketOf(std::uint64_t key) const;

    // Record numbers that rise along the list (as the data set gives them, 1, 2, 3, ...) need no
    // name index: the only vector that can be found for a number is the one that has it, since
    // every vector before it has a smaller number.
    bool ascending_ = false;
    std::vector<Entry> entries_;  // by key, then by position
    // Open addressing on the keys, a power of two in size and at most half full, so that a
    // lookup costs a probe or two whatever the number of vectors.
    std::vector<Bucket> buckets_;
    bool built_ = false;
    bool trusted_ = true;
};

}  // namespace torvek

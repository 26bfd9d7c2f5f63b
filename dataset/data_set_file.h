#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dataset/adjustment_record.h"
#include "dataset/data_set_header.h"
#include "dataset/site_record.h"
#include "dataset/vector_record.h"

namespace torvek {

// The three counts at the start of the file, before the header.
inline constexpr std::size_t kDataSetCountsSize = 12;
// Size of a data set file with no records: the counts and the header.
inline constexpr std::size_t kEmptyDataSetFileSize = kDataSetCountsSize + kDataSetHeaderSize;

// A file cut short still reads: records the file announces but does not hold take the defaults
// of fresh records. So that a damaged count cannot make the reader allocate without bound, each
// list may ask for at most this many such missing records beyond those that the bytes left in
// the file could hold; a count above that bound makes the whole read fail and leaves the data
// set as it was. The allowance is far above any real network (the engine takes 500 sites) and
// keeps the worst case near 100 MB for the three lists together.
inline constexpr std::uint64_t kMissingRecordAllowance = 100000;

// The decoded content of one data set file: the counts as stored, the header and the three record
// lists in file order. The counts normally equal the list lengths; a negative count read from a
// file comes with an empty list and is kept as it was read.
struct DataSetContents {
    std::int32_t siteCount = 0;
    std::int32_t vectorCount = 0;
    std::int32_t adjustmentRecordCount = 0;
    DataSetHeader header;
    std::vector<SiteRecord> sites;
    std::vector<VectorRecord> vectors;
    std::vector<AdjustmentRecord> adjustmentRecords;
};

// Resets every field that a run writes in every record (clearResults of each record) to what a
// fresh record holds, so that whatever the program leaves in its output comes from that run
// alone. Counts, header, input fields and flags stay.
void clearRunResults(DataSetContents& contents);

// Size in bytes of the file image of a data set with these counts; a negative count counts as
// none, as the reader takes it.
std::uint64_t dataSetFileSize(std::int32_t siteCount, std::int32_t vectorCount,
                              std::int32_t adjustmentRecordCount);

// Decodes a data set from the bytes of a file. On success `contents` is replaced; header fields
// beyond the end of the bytes keep the values `contents.header` had, counts that cannot be read
// are 0 and missing records have fresh defaults. Returns false, leaving `contents` unchanged,
// when a count exceeds the bound above. Throws std::bad_alloc, leaving `contents` unchanged, when
// storage runs out, so that a caller can tell a memory failure from a bad file.
bool decodeDataSet(std::span<const std::uint8_t> bytes, DataSetContents& contents);

// The file image of `contents`: the counts as held, the header, then every site, vector and
// adjustment record in list order.
std::vector<std::uint8_t> encodeDataSet(const DataSetContents& contents);

// Reads the file at `path` as decodeDataSet does. Also false, with `contents` unchanged, when the
// file cannot be opened, is not a regular file (a directory, a FIFO, a device) or reading it
// fails (an I/O error). Throws std::bad_alloc as decodeDataSet does.
bool readDataSetFile(const std::string& path, DataSetContents& contents);

// The name of the temporary a save writes beside its target: the target's path and this suffix,
// whose X's mkstemp replaces.
inline constexpr const char* kSaveTemporarySuffix = ".save-XXXXXX";

// Writes the image of `contents` to a temporary file in the folder of `path` and renames it onto
// `path`, so that `path` is at every moment either what it was or the whole new image. False,
// with the temporary removed and `path` untouched, when `path` names something other than a
// regular file or when creating, writing (a full disk, a file size limit) or closing the
// temporary fails, so that a lost result is not reported as saved.
bool writeDataSetFile(const std::string& path, const DataSetContents& contents);

}  // namespace torvek

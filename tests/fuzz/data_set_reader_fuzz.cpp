// Fuzz target: the data set reader on arbitrary bytes. Besides the sanitizers' checks it asks that
// whatever the reader accepts writes back to an image that reads again to the same image, and
// that the lookups and accessors the program uses on every record stay within their records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "dataset/adjusted_data_set.h"
#include "dataset/data_set_file.h"

namespace {

// Records looked up one by one; a damaged count can announce a hundred thousand of them.
constexpr std::size_t kRecordsExamined = 64;

void examine(torvek::AdjustedDataSet& dataSet) {
    std::size_t k = 0;
    for (bool more = dataSet.firstVector(); more && k < kRecordsExamined;
         more = dataSet.nextVector(), ++k) {
        torvek::VectorLabel label;
        dataSet.vectorLabels(label);
        if (label.from[torvek::kVectorLabelSize - 1] != '\0' ||
            label.to[torvek::kVectorLabelSize - 1] != '\0')
            std::abort();
        double values[torvek::kVectorTestResultCount];
        torvek::VectorComponents components;
        torvek::ComponentPrecision precision;
        dataSet.getVectorComponents(components);
        dataSet.getVectorCovariance(precision);
        dataSet.getVectorTestResults(values);
        const std::size_t position = k;
        if (dataSet.seekVector(label) &&
            dataSet.currentVector()->recordNumber != torvek::vectorLabelNumber(label.to.data()))
            std::abort();
        // Back to where the walk was.
        dataSet.firstVector();
        for (std::size_t i = 0; i < position; ++i)
            dataSet.nextVector();
    }
    k = 0;
    for (bool more = dataSet.firstSite(); more && k < kRecordsExamined;
         more = dataSet.nextSite(), ++k) {
        double a, b, c;
        torvek::SitePosition position;
        torvek::AdjustedSite adjusted;
        dataSet.getSitePosition(position);
        dataSet.getSiteSigmas(a, b, c);
        dataSet.getAdjustedSite(adjusted);
        for (std::int32_t component = -1; component <= 3; ++component)
            dataSet.getConstraintResidual(component, a, b);
    }
    (void)dataSet.biasApriori();
    (void)dataSet.headerText();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    torvek::AdjustedDataSet dataSet;
    if (!dataSet.readImage(std::span<const std::uint8_t>(data, size)))
        return 0;
    // What was read writes back to an image that reads to itself again.
    const std::vector<std::uint8_t> image = torvek::encodeDataSet(dataSet.contents());
    torvek::DataSetContents again;
    if (!torvek::decodeDataSet(image, again) || torvek::encodeDataSet(again) != image)
        std::abort();
    examine(dataSet);
    return 0;
}

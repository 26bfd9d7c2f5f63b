#include "dataset/project_data_set.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <utility>

namespace torvek {

double applyConstraintSigmaRule(double sigma) {
    if (sigma == 0.0) {
        return 0.0;
    }
    return sigma < kMinimumSigma ? kMinimumSigma : sigma;
}

double applyVectorSigmaRule(double sigma) {
    return sigma < kMinimumSigma ? kMinimumSigma : sigma;
}

namespace {

// Cursor index after a read or an add: the last record, or the end of an empty list.
template <class List>
std::size_t lastRecordCursor(const List& list) {
    return list.empty() ? 0 : list.size() - 1;
}

template <class Record>
bool appendRecord(std::vector<Record>& list, std::int32_t& count, std::size_t& cursor,
                  Record record) {
    if (count == std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    try {
        record.recordNumber = count + 1;
        list.push_back(std::move(record));
    } catch (const std::exception&) {
        return false;
    }
    ++count;
    cursor = list.size() - 1;
    return true;
}

template <class List>
auto recordAt(List& list, std::size_t cursor) -> decltype(list.data()) {
    return cursor < list.size() ? list.data() + cursor : nullptr;
}

}  // namespace

ProjectDataSet::ProjectDataSet(const char* fileName) {
    setFileName(fileName);
}

// ---- File ------------------------------------------------------------------------------------

void ProjectDataSet::setFileName(const char* name) {
    fileName_.clear();
    if (name == nullptr) {
        return;
    }
    std::size_t length = 0;
    while (length < kDataSetFileNameSize && name[length] != '\0') {
        ++length;
    }
    fileName_.assign(name, length);
}

bool ProjectDataSet::load() {
    return !fileName_.empty() && readFile(fileName_);
}

bool ProjectDataSet::save() const {
    return !fileName_.empty() && writeFile(fileName_);
}

void ProjectDataSet::resetFile() {
    if (!fileName_.empty()) {
        std::remove(fileName_.c_str());
    }
    clear();
}

void ProjectDataSet::clear() {
    contents_.siteCount = 0;
    contents_.vectorCount = 0;
    contents_.adjustmentRecordCount = 0;
    contents_.sites.clear();
    contents_.vectors.clear();
    contents_.adjustmentRecords.clear();
    siteCursor_ = 0;
    vectorCursor_ = 0;
    adjustmentCursor_ = 0;
    siteIndex_.invalidate();
    vectorIndex_.invalidate();
}

bool ProjectDataSet::readFile(const std::string& path) {
    if (!readDataSetFile(path, contents_)) {
        return false;
    }
    placeCursorsOnLastRecords();
    return true;
}

bool ProjectDataSet::readImage(std::span<const std::uint8_t> bytes) {
    if (!decodeDataSet(bytes, contents_)) {
        return false;
    }
    placeCursorsOnLastRecords();
    return true;
}

bool ProjectDataSet::readContents(const ProjectDataSet& source) {
    if (&source == this) {
        placeCursorsOnLastRecords();
        return true;
    }
    try {
        DataSetContents copy = source.contents_;
        contents_ = std::move(copy);
    } catch (const std::exception&) {
        return false;
    }
    placeCursorsOnLastRecords();
    return true;
}

bool ProjectDataSet::writeFile(const std::string& path) const {
    return writeDataSetFile(path, contents_);
}

void ProjectDataSet::placeCursorsOnLastRecords() {
    siteCursor_ = lastRecordCursor(contents_.sites);
    vectorCursor_ = lastRecordCursor(contents_.vectors);
    adjustmentCursor_ = lastRecordCursor(contents_.adjustmentRecords);
    siteIndex_.invalidate();
    vectorIndex_.invalidate();
}

// ---- Adding records --------------------------------------------------------------------------

bool ProjectDataSet::addSite(const char* name) {
    SiteRecord site;
    site.name.assign(name);
    if (!appendRecord(contents_.sites, contents_.siteCount, siteCursor_, std::move(site))) {
        return false;
    }
    siteIndex_.invalidate();
    return true;
}

bool ProjectDataSet::addVector(const char* fromName, const char* toName) {
    VectorRecord vector;
    vector.fromSite.assign(fromName);
    vector.toSite.assign(toName);
    if (!appendRecord(contents_.vectors, contents_.vectorCount, vectorCursor_, std::move(vector))) {
        return false;
    }
    vectorIndex_.invalidate();
    return true;
}

bool ProjectDataSet::addAdjustmentRecord() {
    return appendRecord(contents_.adjustmentRecords, contents_.adjustmentRecordCount,
                        adjustmentCursor_, AdjustmentRecord());
}

// ---- Cursors and lookups ---------------------------------------------------------------------

bool ProjectDataSet::firstSite() {
    siteCursor_ = 0;
    return !contents_.sites.empty();
}

bool ProjectDataSet::nextSite() {
    if (siteCursor_ < contents_.sites.size()) {
        ++siteCursor_;
    }
    return siteCursor_ < contents_.sites.size();
}

bool ProjectDataSet::seekSite(const char* name) {
    siteCursor_ = siteIndex_.find(contents_.sites, name);
    return siteCursor_ < contents_.sites.size();
}

bool ProjectDataSet::firstVector() {
    vectorCursor_ = 0;
    return !contents_.vectors.empty();
}

bool ProjectDataSet::nextVector() {
    if (vectorCursor_ < contents_.vectors.size()) {
        ++vectorCursor_;
    }
    return vectorCursor_ < contents_.vectors.size();
}

bool ProjectDataSet::seekVector(const char* label1, const char* label2) {
    const std::int32_t wanted = vectorLabelNumber(label2);
    if (wanted < 0) {
        return false;
    }
    // The first candidate decides: a later vector with the wanted number is not looked for, so
    // a candidate with a larger number ends the lookup at the end position.
    vectorCursor_ = vectorIndex_.find(contents_.vectors, label1, label2, wanted);
    return vectorCursor_ < contents_.vectors.size();
}

bool ProjectDataSet::vectorLabels(char* label1, char* label2) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        std::memset(label1, 0, kVectorLabelSize);
        std::memset(label2, 0, kVectorLabelSize);
        return false;
    }
    formatVectorLabel(*vector, label1, label2);
    return true;
}

// ---- Raw records -----------------------------------------------------------------------------

const SiteRecord* ProjectDataSet::currentSite() const {
    return recordAt(contents_.sites, siteCursor_);
}
SiteRecord* ProjectDataSet::currentSite() {
    siteIndex_.distrust();
    return recordAt(contents_.sites, siteCursor_);
}

SiteRecord* ProjectDataSet::siteForUpdate() {
    return recordAt(contents_.sites, siteCursor_);
}

const VectorRecord* ProjectDataSet::currentVector() const {
    return recordAt(contents_.vectors, vectorCursor_);
}
VectorRecord* ProjectDataSet::currentVector() {
    vectorIndex_.distrust();
    return recordAt(contents_.vectors, vectorCursor_);
}

VectorRecord* ProjectDataSet::vectorForUpdate() {
    return recordAt(contents_.vectors, vectorCursor_);
}

const AdjustmentRecord* ProjectDataSet::currentAdjustmentRecord() const {
    return recordAt(contents_.adjustmentRecords, adjustmentCursor_);
}
AdjustmentRecord* ProjectDataSet::currentAdjustmentRecord() {
    return recordAt(contents_.adjustmentRecords, adjustmentCursor_);
}

AdjustmentRecord* ProjectDataSet::adjustmentRecordForWriting() {
    if (currentAdjustmentRecord() == nullptr && !addAdjustmentRecord()) {
        return nullptr;
    }
    return currentAdjustmentRecord();
}

// ---- Site accessors --------------------------------------------------------------------------

bool ProjectDataSet::getSitePosition(double& latitude, double& longitude, double& elevation,
                                     double& geoidHeight) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return false;
    }
    latitude = site->latitude;
    longitude = site->longitude;
    elevation = site->elevation;
    geoidHeight = site->geoidHeight;
    return true;
}

bool ProjectDataSet::setSitePosition(double latitude, double longitude, double elevation,
                                     double geoidHeight) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->latitude = latitude;
    site->longitude = longitude;
    site->elevation = elevation;
    site->geoidHeight = geoidHeight;
    return true;
}

bool ProjectDataSet::getSiteSigmas(double& latitudeSigma, double& longitudeSigma,
                                   double& elevationSigma) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return false;
    }
    latitudeSigma = applyConstraintSigmaRule(site->latitudeSigma);
    longitudeSigma = applyConstraintSigmaRule(site->longitudeSigma);
    elevationSigma = applyConstraintSigmaRule(site->elevationSigma);
    return true;
}

bool ProjectDataSet::setSiteSigmas(double latitudeSigma, double longitudeSigma,
                                   double elevationSigma) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->latitudeSigma = applyConstraintSigmaRule(latitudeSigma);
    site->longitudeSigma = applyConstraintSigmaRule(longitudeSigma);
    site->elevationSigma = applyConstraintSigmaRule(elevationSigma);
    return true;
}

bool ProjectDataSet::getSiteFixed(std::uint8_t& latitudeFixed, std::uint8_t& longitudeFixed,
                                  std::uint8_t& elevationFixed) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return false;
    }
    latitudeFixed = site->latitudeFixed;
    longitudeFixed = site->longitudeFixed;
    elevationFixed = site->elevationFixed;
    return true;
}

bool ProjectDataSet::setSiteFixed(std::uint8_t latitudeFixed, std::uint8_t longitudeFixed,
                                  std::uint8_t elevationFixed) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->latitudeFixed = latitudeFixed;
    site->longitudeFixed = longitudeFixed;
    site->elevationFixed = elevationFixed;
    return true;
}

const char* ProjectDataSet::siteName() const {
    const SiteRecord* site = currentSite();
    return site == nullptr ? nullptr : site->name.data();
}

std::uint8_t ProjectDataSet::siteInUse() const {
    const SiteRecord* site = currentSite();
    return site == nullptr ? 0 : site->inUse;
}

bool ProjectDataSet::setSiteInUse(std::uint8_t inUse) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->inUse = inUse;
    return true;
}

// ---- Vector accessors ------------------------------------------------------------------------

bool ProjectDataSet::getVectorComponents(double& deltaX, double& deltaY, double& deltaZ,
                                         std::int32_t& weightDivisor) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    deltaX = vector->deltaX;
    deltaY = vector->deltaY;
    deltaZ = vector->deltaZ;
    weightDivisor = vector->weightDivisor;
    return true;
}

bool ProjectDataSet::setVectorComponents(double deltaX, double deltaY, double deltaZ,
                                         std::int32_t weightDivisor) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->deltaX = deltaX;
    vector->deltaY = deltaY;
    vector->deltaZ = deltaZ;
    vector->weightDivisor = weightDivisor;
    return true;
}

namespace {

double holdVectorSigma(double sigma) {
    if (sigma < kMinimumSigma) {
        sigma = kMinimumSigma;
    }
    if (sigma > kMaximumVectorSigma) {
        sigma = kMaximumVectorSigma;
    }
    return sigma;
}

bool allWithinUnit(double a, double b, double c) {
    return std::fabs(a) <= 1.0 && std::fabs(b) <= 1.0 && std::fabs(c) <= 1.0;
}

}  // namespace

bool ProjectDataSet::getVectorCovariance(double& sigmaX, double& sigmaY, double& sigmaZ,
                                         double& correlationXY, double& correlationXZ,
                                         double& correlationYZ) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    const double s1 = holdVectorSigma(vector->sigmaX);
    const double s2 = holdVectorSigma(vector->sigmaY);
    const double s3 = holdVectorSigma(vector->sigmaZ);
    double c12 = vector->correlationXY;
    double c13 = vector->correlationXZ;
    double c23 = vector->correlationYZ;
    // Front ends store either correlation coefficients or covariances in these fields; a value
    // beyond 1 can only be a covariance.
    if (!allWithinUnit(c12, c13, c23)) {
        c12 /= s1 * s2;
        c13 /= s1 * s3;
        c23 /= s2 * s3;
        if (!allWithinUnit(c12, c13, c23)) {
            c12 = 0.0;
            c13 = 0.0;
            c23 = 0.0;
        }
    }
    sigmaX = s1;
    sigmaY = s2;
    sigmaZ = s3;
    correlationXY = c12;
    correlationXZ = c13;
    correlationYZ = c23;
    return true;
}

bool ProjectDataSet::setVectorCovariance(double sigmaX, double sigmaY, double sigmaZ,
                                         double correlationXY, double correlationXZ,
                                         double correlationYZ) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->sigmaX = applyVectorSigmaRule(sigmaX);
    vector->sigmaY = applyVectorSigmaRule(sigmaY);
    vector->sigmaZ = applyVectorSigmaRule(sigmaZ);
    vector->correlationXY = correlationXY;
    vector->correlationXZ = correlationXZ;
    vector->correlationYZ = correlationYZ;
    return true;
}

bool ProjectDataSet::setVectorLocalSigmas(double sigmaNorth, double sigmaEast, double sigmaUp) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->localSigmaNorth = applyVectorSigmaRule(sigmaNorth);
    vector->localSigmaEast = applyVectorSigmaRule(sigmaEast);
    vector->localSigmaUp = applyVectorSigmaRule(sigmaUp);
    vector->localCorrelation.fill(0.0);
    return true;
}

bool ProjectDataSet::getVectorLocalSigmas(double& sigmaNorth, double& sigmaEast,
                                          double& sigmaUp) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    sigmaNorth = vector->localSigmaNorth;
    sigmaEast = vector->localSigmaEast;
    sigmaUp = vector->localSigmaUp;
    return true;
}

std::int32_t ProjectDataSet::weightDivisor() const {
    const VectorRecord* vector = currentVector();
    return vector == nullptr ? kNeutralWeightDivisor : vector->weightDivisor;
}

bool ProjectDataSet::setWeightDivisor(std::int32_t weightDivisor) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->weightDivisor = weightDivisor;
    return true;
}

std::uint8_t ProjectDataSet::vectorInUse() const {
    const VectorRecord* vector = currentVector();
    return vector == nullptr ? 0 : vector->inUse;
}

bool ProjectDataSet::setVectorInUse(std::uint8_t inUse) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->inUse = inUse;
    return true;
}

const char* ProjectDataSet::vectorFromSite() const {
    const VectorRecord* vector = currentVector();
    return vector == nullptr ? nullptr : vector->fromSite.data();
}

const char* ProjectDataSet::vectorToSite() const {
    const VectorRecord* vector = currentVector();
    return vector == nullptr ? nullptr : vector->toSite.data();
}

// ---- Header and settings ---------------------------------------------------------------------

bool ProjectDataSet::getEllipsoid(double& semiMajorAxis, double& inverseFlattening) const {
    semiMajorAxis = contents_.header.semiMajorAxis;
    inverseFlattening = contents_.header.inverseFlattening;
    return true;
}

bool ProjectDataSet::setEllipsoid(double semiMajorAxis, double inverseFlattening) {
    contents_.header.semiMajorAxis = semiMajorAxis;
    contents_.header.inverseFlattening = inverseFlattening;
    return true;
}

std::string ProjectDataSet::headerText() const {
    const auto& text = contents_.header.headerText;
    std::size_t length = 0;
    while (length < text.size() && text[length] != '\0') {
        ++length;
    }
    return std::string(text.data(), length);
}

bool ProjectDataSet::setHeaderText(const char* text) {
    auto& stored = contents_.header.headerText;
    stored.fill('\0');
    for (std::size_t i = 0; text != nullptr && i < stored.size() && text[i] != '\0'; ++i) {
        stored[i] = text[i];
    }
    return true;
}

bool ProjectDataSet::getReferencePoint(double& latitude, double& longitude) const {
    latitude = contents_.header.referenceLatitude;
    longitude = contents_.header.referenceLongitude;
    return true;
}

bool ProjectDataSet::setReferencePoint(double latitude, double longitude) {
    contents_.header.referenceLatitude = latitude;
    contents_.header.referenceLongitude = longitude;
    return true;
}

bool ProjectDataSet::getAdjustmentSettings(std::uint8_t& minimallyConstrained,
                                           double& confidenceLevel,
                                           double& vectorSigmaScale) const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    minimallyConstrained = record == nullptr ? 0 : record->minimallyConstrained;
    confidenceLevel = contents_.header.confidenceLevel;
    vectorSigmaScale = contents_.header.vectorSigmaScale;
    return true;
}

bool ProjectDataSet::setAdjustmentSettings(std::uint8_t minimallyConstrained,
                                           double confidenceLevel, double vectorSigmaScale) {
    contents_.header.confidenceLevel = confidenceLevel;
    contents_.header.vectorSigmaScale = vectorSigmaScale;
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->minimallyConstrained = minimallyConstrained;
    return true;
}

bool ProjectDataSet::getBiasApriori(double pairs[kBiasAprioriCount]) const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    for (std::size_t i = 0; i < kBiasAprioriCount; i += 2) {
        pairs[i] = record == nullptr ? 0.0 : record->aprioriBias[i];
        pairs[i + 1] =
            record == nullptr ? 0.0 : applyConstraintSigmaRule(record->aprioriBias[i + 1]);
    }
    return true;
}

bool ProjectDataSet::setBiasApriori(const double pairs[kBiasAprioriCount]) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < kBiasAprioriCount; i += 2) {
        record->aprioriBias[i] = pairs[i];
        record->aprioriBias[i + 1] = applyConstraintSigmaRule(pairs[i + 1]);
    }
    return true;
}

bool ProjectDataSet::setBiasResultBlock(const double values[kBiasResultCount]) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < kBiasResultCount; ++i) {
        record->biasResults[i] = values[i];
    }
    return true;
}

bool ProjectDataSet::getBiasResultBlock(double values[kBiasResultCount]) const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    for (std::size_t i = 0; i < kBiasResultCount; ++i) {
        values[i] = record == nullptr ? 0.0 : record->biasResults[i];
    }
    return true;
}

}  // namespace torvek

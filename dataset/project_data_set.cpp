#include "dataset/project_data_set.h"

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

bool ProjectDataSet::getSitePosition(SitePosition& position) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return false;
    }
    position = {site->latitude, site->longitude, site->elevation, site->geoidHeight};
    return true;
}

bool ProjectDataSet::setSitePosition(const SitePosition& position) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->latitude = position.latitude;
    site->longitude = position.longitude;
    site->elevation = position.elevation;
    site->geoidHeight = position.geoidHeight;
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

bool ProjectDataSet::getVectorComponents(VectorComponents& components) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    components = {vector->deltaX, vector->deltaY, vector->deltaZ, vector->weightDivisor};
    return true;
}

bool ProjectDataSet::setVectorComponents(const VectorComponents& components) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->deltaX = components.deltaX;
    vector->deltaY = components.deltaY;
    vector->deltaZ = components.deltaZ;
    vector->weightDivisor = components.weightDivisor;
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

}  // namespace

bool ProjectDataSet::getVectorCovariance(ComponentPrecision& precision) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    precision.sigma = {holdVectorSigma(vector->sigmaX), holdVectorSigma(vector->sigmaY),
                       holdVectorSigma(vector->sigmaZ)};
    precision.correlation = {vector->correlationXY, vector->correlationXZ, vector->correlationYZ};
    return true;
}

bool ProjectDataSet::setVectorCovariance(const ComponentPrecision& precision) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->sigmaX = applyVectorSigmaRule(precision.sigma[0]);
    vector->sigmaY = applyVectorSigmaRule(precision.sigma[1]);
    vector->sigmaZ = applyVectorSigmaRule(precision.sigma[2]);
    vector->correlationXY = precision.correlation[0];
    vector->correlationXZ = precision.correlation[1];
    vector->correlationYZ = precision.correlation[2];
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

EllipsoidParameters ProjectDataSet::ellipsoid() const {
    return {contents_.header.semiMajorAxis, contents_.header.inverseFlattening};
}

void ProjectDataSet::setEllipsoid(double semiMajorAxis, double inverseFlattening) {
    contents_.header.semiMajorAxis = semiMajorAxis;
    contents_.header.inverseFlattening = inverseFlattening;
}

std::string ProjectDataSet::headerText() const {
    const auto& text = contents_.header.headerText;
    std::size_t length = 0;
    while (length < text.size() && text[length] != '\0') {
        ++length;
    }
    return std::string(text.data(), length);
}

void ProjectDataSet::setHeaderText(const char* text) {
    auto& stored = contents_.header.headerText;
    stored.fill('\0');
    for (std::size_t i = 0; text != nullptr && i < stored.size() && text[i] != '\0'; ++i) {
        stored[i] = text[i];
    }
}

ReferencePoint ProjectDataSet::referencePoint() const {
    return {contents_.header.referenceLatitude, contents_.header.referenceLongitude};
}

void ProjectDataSet::setReferencePoint(double latitude, double longitude) {
    contents_.header.referenceLatitude = latitude;
    contents_.header.referenceLongitude = longitude;
}

DataSetSettings ProjectDataSet::adjustmentSettings() const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    return {record == nullptr ? std::uint8_t{0} : record->minimallyConstrained,
            contents_.header.confidenceLevel, contents_.header.vectorSigmaScale};
}

bool ProjectDataSet::setAdjustmentSettings(const DataSetSettings& settings) {
    contents_.header.confidenceLevel = settings.confidenceLevel;
    contents_.header.vectorSigmaScale = settings.vectorSigmaScale;
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->minimallyConstrained = settings.minimallyConstrained;
    return true;
}

std::array<double, kBiasAprioriCount> ProjectDataSet::biasApriori() const {
    std::array<double, kBiasAprioriCount> pairs{};
    const AdjustmentRecord* record = currentAdjustmentRecord();
    if (record == nullptr) {
        return pairs;
    }
    for (std::size_t i = 0; i < kBiasAprioriCount; i += 2) {
        pairs[i] = record->aprioriBias[i];
        pairs[i + 1] = applyConstraintSigmaRule(record->aprioriBias[i + 1]);
    }
    return pairs;
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

bool ProjectDataSet::setBiasResultBlock(const std::array<double, kBiasResultCount>& values) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->biasResults = values;
    return true;
}

std::array<double, kBiasResultCount> ProjectDataSet::biasResultBlock() const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    return record == nullptr ? std::array<double, kBiasResultCount>{} : record->biasResults;
}

}  // namespace torvek

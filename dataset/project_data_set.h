#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dataset/adjustment_record.h"
#include "dataset/data_set_file.h"
#include "dataset/data_set_header.h"
#include "dataset/name_index.h"
#include "dataset/site_name.h"
#include "dataset/site_record.h"
#include "dataset/vector_label.h"
#include "dataset/vector_record.h"

namespace torvek {

// Longest file name a data set keeps, in bytes (a name of exactly this length has no terminator).
inline constexpr std::size_t kDataSetFileNameSize = 260;

// Constraint sigmas (of sites in metres, of datum bias parameters in arc seconds or ppm): 0 means
// no constraint, anything else is at least this. Vector sigmas share the floor.
inline constexpr double kMinimumSigma = 0.001;
// A-priori vector sigmas are held within [1 mm, 100 m].
inline constexpr double kMaximumVectorSigma = 100.0;  // metres
// Positive adjusted vector sigmas are at least this, and residuals below it are stored as 0.
inline constexpr double kResultFloor = 1e-6;
// Most sites in use that torvek adjusts: its dense normal matrix holds three unknowns for each of
// 500 sites and the four datum bias unknowns. torvek-large has no such limit; a front end runs it
// for data sets above this many sites in use.
inline constexpr int kMaxSites = 500;

// The 1 mm rule of constraint sigmas: 0 stays 0, anything else below kMinimumSigma (negatives
// too) becomes kMinimumSigma. A NaN passes unchanged.
double applyConstraintSigmaRule(double sigma);
// The rule of vector sigma setters: anything below kMinimumSigma, 0 included, becomes
// kMinimumSigma.
double applyVectorSigmaRule(double sigma);

// The position of a site as its record holds it.
struct SitePosition {
    double latitude = 0.0;     // decimal degrees
    double longitude = 0.0;    // decimal degrees
    double elevation = 0.0;    // metres above the geoid
    double geoidHeight = 0.0;  // metres; 0 counts as missing
};

// A measured vector: Earth-centred components and the divisor of its weights.
struct VectorComponents {
    double deltaX = 0.0;  // metres
    double deltaY = 0.0;
    double deltaZ = 0.0;
    std::int32_t weightDivisor = kNeutralWeightDivisor;  // weights times 2 / this
};

// Standard deviations of three components, in metres, and the correlations of the component pairs
// (1, 2), (1, 3) and (2, 3): X, Y and Z of the Earth-centred frame, or north, east and up of the
// local frame.
struct ComponentPrecision {
    std::array<double, 3> sigma{};
    std::array<double, 3> correlation{};
};

// The reference ellipsoid of a data set.
struct EllipsoidParameters {
    double semiMajorAxis = 0.0;      // metres
    double inverseFlattening = 0.0;  // 1/f
};

// The reference point of the local frame, decimal degrees.
struct ReferencePoint {
    double latitude = 0.0;
    double longitude = 0.0;
};

// The settings a data set carries for an adjustment.
struct DataSetSettings {
    std::uint8_t minimallyConstrained = 0;  // flag: 0 no, anything else yes
    double confidenceLevel = 0.0;           // percent, of the statistical tests
    double vectorSigmaScale = 0.0;          // factor on the a-priori vector sigmas
};

// The in-memory form of one data set file: header, three record lists with one cursor each, the
// three counts and the file name. Every reader and writer of the data set goes through the
// operations below, which act on the record under a cursor. A cursor is either on a record or at
// the end of its list (past the last record); accessors report "no record" at the end and change
// nothing.
//
// Pointers returned by the name accessors (siteName, vectorFromSite, vectorToSite) and by the
// current-record accessors stay valid until the next add, read or clear.
class ProjectDataSet {
  public:
    ProjectDataSet() = default;
    // With a file name, as setFileName.
    explicit ProjectDataSet(const char* fileName);
    ProjectDataSet(const ProjectDataSet&) = default;
    ProjectDataSet(ProjectDataSet&&) = default;
    ProjectDataSet& operator=(const ProjectDataSet&) = default;
    ProjectDataSet& operator=(ProjectDataSet&&) = default;
    virtual ~ProjectDataSet() = default;

    // ---- File --------------------------------------------------------------------------------

    // Keeps at most kDataSetFileNameSize bytes of `name` (up to its terminator); null clears it.
    void setFileName(const char* name);
    // The stored name; empty when none was given.
    const std::string& fileName() const { return fileName_; }
    // readFile / writeFile with the file name; false when no name is set.
    [[nodiscard]] bool load();
    [[nodiscard]] bool save() const;
    // Deletes the named file (a failure to delete is ignored), then clear().
    void resetFile();
    // Counts to 0, lists emptied, cursors at end; header and file name stay.
    void clear();

    // Replaces the content with the file at `path` (counts, header, lists); each cursor then
    // stands on the last record of its list. On failure (see readDataSetFile) nothing changes;
    // a memory failure throws std::bad_alloc (readFile, readImage and load alike).
    [[nodiscard]] bool readFile(const std::string& path);
    // Writes the counts as held, the header and every record through a temporary and a rename
    // (writeDataSetFile); cursors and counts do not change.
    [[nodiscard]] bool writeFile(const std::string& path) const;
    // readFile and writeFile on a file image held in memory (decodeDataSet, encodeDataSet).
    [[nodiscard]] bool readImage(std::span<const std::uint8_t> bytes);
    // Replaces the content with that of `source` (counts, header, lists) as readFile would with
    // a copy of the file `source` was read from; the file name stays. On failure (no storage)
    // nothing changes.
    [[nodiscard]] bool readContents(const ProjectDataSet& source);
    std::vector<std::uint8_t> writeImage() const { return encodeDataSet(contents_); }

    // ---- Adding records ------------------------------------------------------------------------
    // Each appends a fresh record, puts its list's cursor on it, raises the count by one and
    // numbers the record with the new count. False, with nothing changed, when storage runs out
    // or the count cannot be raised (it is already the largest int32).

    // `name`: its first four characters are the site's name.
    [[nodiscard]] bool addSite(const char* name);
    [[nodiscard]] bool addVector(const char* fromName, const char* toName);
    [[nodiscard]] bool addAdjustmentRecord();

    // ---- Cursors and lookups -----------------------------------------------------------------

    // Cursor on the first record; false (cursor at end) when the list is empty.
    bool firstSite();
    // Cursor one record further; false when it reaches the end.
    bool nextSite();
    // The first site, in list order, whose name equals the first four characters of `name`
    // ignoring case: cursor on it and true; otherwise cursor at end and false. Sites and vectors
    // are found through indexes built once per list (name_index.h); see currentSite for names
    // changed by hand.
    bool seekSite(const char* name);

    bool firstVector();
    bool nextVector();
    // Finds the vector named by the two label texts (see vectorLabels). The wanted number is read
    // from label2 (vectorLabelNumber); a negative one gives false without moving the cursor.
    // Otherwise the first vector in list order whose start and end names equal the first four
    // characters of label1 and label2 (case-sensitive) and whose record number is at least the
    // wanted one decides: true with the cursor on it when its number is the wanted one, else
    // false with the cursor at end (also when there is no such vector). Neither label is read
    // past its terminator or kVectorLabelSize bytes.
    bool seekVector(const char* label1, const char* label2);
    bool seekVector(const VectorLabel& label) {
        return seekVector(label.from.data(), label.to.data());
    }
    // Fills label1 and label2 (kVectorLabelSize bytes each) for the vector under the cursor:
    // "%4.4s" of the start site and 10 blanks; "%4.4s" of the end site, 5 blanks and "%05d" of
    // its record number (a number above 99999 fills the ten columns after the name, see
    // formatVectorLabel). At end both are left all NUL and the result is false.
    bool vectorLabels(char* label1, char* label2) const;
    bool vectorLabels(VectorLabel& label) const {
        return vectorLabels(label.from.data(), label.to.data());
    }

    // ---- Counts and raw records ----------------------------------------------------------------

    std::int32_t siteCount() const { return contents_.siteCount; }
    std::int32_t vectorCount() const { return contents_.vectorCount; }
    std::int32_t adjustmentRecordCount() const { return contents_.adjustmentRecordCount; }
    const std::vector<SiteRecord>& sites() const { return contents_.sites; }
    const std::vector<VectorRecord>& vectors() const { return contents_.vectors; }
    const std::vector<AdjustmentRecord>& adjustmentRecords() const {
        return contents_.adjustmentRecords;
    }
    const DataSetContents& contents() const { return contents_; }
    // The header itself, for tools that prepare data sets field by field.
    const DataSetHeader& headerRecord() const { return contents_.header; }
    DataSetHeader& headerRecord() { return contents_.header; }
    // The record under each cursor, or null at end. A site or vector handed out for writing may
    // get another name or record number, which the lookup indexes cannot see: from then on until
    // the next add, read or clear, seekSite (currentSite) or seekVector (currentVector) scan
    // their list in order instead, as slow and as exact as ever.
    const SiteRecord* currentSite() const;
    SiteRecord* currentSite();
    const VectorRecord* currentVector() const;
    VectorRecord* currentVector();
    const AdjustmentRecord* currentAdjustmentRecord() const;
    AdjustmentRecord* currentAdjustmentRecord();

    // ---- Site accessors (site cursor) ----------------------------------------------------------

    bool getSitePosition(SitePosition& position) const;
    bool setSitePosition(const SitePosition& position);
    // Constraint sigmas in metres; both directions apply the 1 mm rule (applyConstraintSigmaRule).
    bool getSiteSigmas(double& latitudeSigma, double& longitudeSigma, double& elevationSigma) const;
    bool setSiteSigmas(double latitudeSigma, double longitudeSigma, double elevationSigma);
    // Fixed flags: 0 no, anything else yes.
    bool getSiteFixed(std::uint8_t& latitudeFixed, std::uint8_t& longitudeFixed,
                      std::uint8_t& elevationFixed) const;
    bool setSiteFixed(std::uint8_t latitudeFixed, std::uint8_t longitudeFixed,
                      std::uint8_t elevationFixed);
    // The four name bytes, not terminated (print with "%4.4s"); null at end.
    const char* siteName() const;
    // The in-use flag; 0 at end.
    std::uint8_t siteInUse() const;
    bool setSiteInUse(std::uint8_t inUse);

    // ---- Vector accessors (vector cursor) ------------------------------------------------------

    bool getVectorComponents(VectorComponents& components) const;
    bool setVectorComponents(const VectorComponents& components);
    // The a-priori precision of the Earth-centred components: the sigmas held within
    // [kMinimumSigma, kMaximumVectorSigma], and the three correlation fields as stored (front
    // ends put correlation coefficients or covariances there; vectorCorrelations of the geodetic
    // computations tells them apart). The record is not changed. False at end.
    bool getVectorCovariance(ComponentPrecision& precision) const;
    // Stores the sigmas through applyVectorSigmaRule and the correlation fields as given.
    bool setVectorCovariance(const ComponentPrecision& precision);
    // Stores the local a-priori sigmas (metres) through applyVectorSigmaRule and sets the three
    // local correlations to 0.
    bool setVectorLocalSigmas(double sigmaNorth, double sigmaEast, double sigmaUp);
    // The local a-priori sigmas as stored.
    bool getVectorLocalSigmas(double& sigmaNorth, double& sigmaEast, double& sigmaUp) const;
    // The weight divisor; kNeutralWeightDivisor (2) at end.
    std::int32_t weightDivisor() const;
    bool setWeightDivisor(std::int32_t weightDivisor);
    // The in-use flag; 0 at end.
    std::uint8_t vectorInUse() const;
    bool setVectorInUse(std::uint8_t inUse);
    // The four name bytes, not terminated; null at end.
    const char* vectorFromSite() const;
    const char* vectorToSite() const;

    // ---- Header and settings -----------------------------------------------------------------
    // Setters that must append an adjustment record return false when they cannot; the others
    // cannot fail.

    EllipsoidParameters ellipsoid() const;
    // Semi-major axis in metres, reciprocal flattening; stored unchecked.
    void setEllipsoid(double semiMajorAxis, double inverseFlattening);
    // The header text up to its first NUL, at most kHeaderTextSize characters.
    std::string headerText() const;
    // Copies at most kHeaderTextSize characters of `text` (up to its terminator), NUL-padded; a
    // null text clears it.
    void setHeaderText(const char* text);
    ReferencePoint referencePoint() const;
    // Latitude and longitude in decimal degrees; stored unchecked.
    void setReferencePoint(double latitude, double longitude);
    // minimallyConstrained from the adjustment record (0 when there is none), confidence level
    // and vector sigma scale from the header.
    DataSetSettings adjustmentSettings() const;
    // Writes the two header values, then the flag into the adjustment record, appending one
    // when there is none.
    bool setAdjustmentSettings(const DataSetSettings& settings);
    // A-priori datum bias parameters as four (value, sigma) pairs: rotations about north, east
    // and up in arc seconds, then the scale correction in ppm. The getter passes each sigma
    // through applyConstraintSigmaRule (0 free, otherwise at least 0.001) and gives eight zeros
    // when there is no adjustment record.
    std::array<double, kBiasAprioriCount> biasApriori() const;
    // Stores the pairs with the same sigma rule, appending a record when there is none.
    bool setBiasApriori(const double pairs[kBiasAprioriCount]);
    // The fourteen adjusted bias values exactly as stored (their meaning, signs and rules belong
    // to the bias computations). The setter appends a record when there is none; the getter
    // gives fourteen zeros when there is none.
    bool setBiasResultBlock(const std::array<double, kBiasResultCount>& values);
    std::array<double, kBiasResultCount> biasResultBlock() const;

  protected:
    // The record under the adjustment cursor, appending one when there is none; null only when
    // none could be appended.
    AdjustmentRecord* adjustmentRecordForWriting();
    // The record under the cursor (null at end) for setters that change neither its name nor its
    // record number, so that the lookup indexes stay in use.
    SiteRecord* siteForUpdate();
    VectorRecord* vectorForUpdate();

  private:
    void placeCursorsOnLastRecords();

    DataSetContents contents_;
    // Index of the record under each cursor; the list's size means "at end".
    std::size_t siteCursor_ = 0;
    std::size_t vectorCursor_ = 0;
    std::size_t adjustmentCursor_ = 0;
    std::string fileName_;
    SiteNameIndex siteIndex_;
    VectorNameIndex vectorIndex_;
};

}  // namespace torvek

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dataset/adjustment_record.h"
#include "dataset/data_set_file.h"
#include "dataset/data_set_header.h"
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

// The 1 mm rule of constraint sigmas: 0 stays 0, anything else below kMinimumSigma (negatives
// too) becomes kMinimumSigma. A NaN passes unchanged.
double applyConstraintSigmaRule(double sigma);
// The rule of vector sigma setters: anything below kMinimumSigma, 0 included, becomes
// kMinimumSigma.
double applyVectorSigmaRule(double sigma);

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
    bool load();
    bool save() const;
    // Deletes the named file (a failure to delete is ignored), then clear().
    void resetFile();
    // Counts to 0, lists emptied, cursors at end; header and file name stay.
    void clear();

    // Replaces the content with the file at `path` (counts, header, lists); each cursor then
    // stands on the last record of its list. On failure (see readDataSetFile) nothing changes;
    // a memory failure throws std::bad_alloc (readFile, readImage and load alike).
    bool readFile(const std::string& path);
    // Writes the counts as held, the header and every record through a temporary and a rename
    // (writeDataSetFile); cursors and counts do not change.
    bool writeFile(const std::string& path) const;
    // readFile and writeFile on a file image held in memory (decodeDataSet, encodeDataSet).
    bool readImage(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> writeImage() const { return encodeDataSet(contents_); }

    // ---- Adding records ------------------------------------------------------------------------
    // Each appends a fresh record, puts its list's cursor on it, raises the count by one and
    // numbers the record with the new count. False, with nothing changed, when storage runs out
    // or the count cannot be raised (it is already the largest int32).

    // `name`: its first four characters are the site's name.
    bool addSite(const char* name);
    bool addVector(const char* fromName, const char* toName);
    bool addAdjustmentRecord();

    // ---- Cursors and lookups -----------------------------------------------------------------

    // Cursor on the first record; false (cursor at end) when the list is empty.
    bool firstSite();
    // Cursor one record further; false when it reaches the end.
    bool nextSite();
    // The first site, in list order, whose name equals the first four characters of `name`
    // ignoring case: cursor on it and true; otherwise cursor at end and false.
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
    // The record under each cursor, or null at end.
    const SiteRecord* currentSite() const;
    SiteRecord* currentSite();
    const VectorRecord* currentVector() const;
    VectorRecord* currentVector();
    const AdjustmentRecord* currentAdjustmentRecord() const;
    AdjustmentRecord* currentAdjustmentRecord();

    // ---- Site accessors (site cursor) ----------------------------------------------------------

    // latitude and longitude in decimal degrees, elevation and geoid height in metres.
    bool getSitePosition(double& latitude, double& longitude, double& elevation,
                         double& geoidHeight) const;
    bool setSitePosition(double latitude, double longitude, double elevation, double geoidHeight);
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

    // Earth-centred components in metres and the weight divisor (weights times 2 / divisor).
    bool getVectorComponents(double& deltaX, double& deltaY, double& deltaZ,
                             std::int32_t& weightDivisor) const;
    bool setVectorComponents(double deltaX, double deltaY, double deltaZ,
                             std::int32_t weightDivisor);
    // The checked a-priori precision: sigmas (metres) held within [0.001, 100]; the three values
    // are correlation coefficients when all are within [-1, 1]; otherwise they are taken as
    // covariances (m^2) and divided by the products of the held sigmas, and if any quotient is
    // still outside [-1, 1] all three are 0. The record is not changed. False at end.
    bool getVectorCovariance(double& sigmaX, double& sigmaY, double& sigmaZ, double& correlationXY,
                             double& correlationXZ, double& correlationYZ) const;
    // Stores the sigmas through applyVectorSigmaRule and the correlations as given.
    bool setVectorCovariance(double sigmaX, double sigmaY, double sigmaZ, double correlationXY,
                             double correlationXZ, double correlationYZ);
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
    // These always succeed, except that a setter that must append an adjustment record returns
    // false when it cannot.

    // Semi-major axis in metres, reciprocal flattening.
    bool getEllipsoid(double& semiMajorAxis, double& inverseFlattening) const;
    bool setEllipsoid(double semiMajorAxis, double inverseFlattening);
    // The header text up to its first NUL, at most kHeaderTextSize characters.
    std::string headerText() const;
    // Copies at most kHeaderTextSize characters of `text` (up to its terminator), NUL-padded.
    bool setHeaderText(const char* text);
    // Reference point of the local frame, decimal degrees.
    bool getReferencePoint(double& latitude, double& longitude) const;
    bool setReferencePoint(double latitude, double longitude);
    // minimallyConstrained from the adjustment record (0 when there is none), confidence level
    // (percent) and vector sigma scale from the header. Always true.
    bool getAdjustmentSettings(std::uint8_t& minimallyConstrained, double& confidenceLevel,
                               double& vectorSigmaScale) const;
    // Writes the two header values, then the flag into the adjustment record, appending one
    // when there is none.
    bool setAdjustmentSettings(std::uint8_t minimallyConstrained, double confidenceLevel,
                               double vectorSigmaScale);
    // A-priori datum bias parameters as four (value, sigma) pairs: rotations about north, east
    // and up in arc seconds, then the scale correction in ppm. The getter passes each sigma
    // through applyConstraintSigmaRule (0 free, otherwise at least 0.001) and gives eight zeros
    // when there is no adjustment record; always true.
    bool getBiasApriori(double pairs[kBiasAprioriCount]) const;
    // Stores the pairs with the same sigma rule, appending a record when there is none.
    bool setBiasApriori(const double pairs[kBiasAprioriCount]);
    // The fourteen adjusted bias values exactly as stored (their meaning, signs and rules belong
    // to the bias computations). The setter appends a record when there is none; the getter
    // gives fourteen zeros when there is none and is always true.
    bool setBiasResultBlock(const double values[kBiasResultCount]);
    bool getBiasResultBlock(double values[kBiasResultCount]) const;

  protected:
    // The record under the adjustment cursor, appending one when there is none; null only when
    // none could be appended.
    AdjustmentRecord* adjustmentRecordForWriting();

  private:
    void placeCursorsOnLastRecords();

    DataSetContents contents_;
    // Index of the record under each cursor; the list's size means "at end".
    std::size_t siteCursor_ = 0;
    std::size_t vectorCursor_ = 0;
    std::size_t adjustmentCursor_ = 0;
    std::string fileName_;
};

}  // namespace torvek

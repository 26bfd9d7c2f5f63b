#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "dataset/project_data_set.h"
#include "engine/adjustment_settings.h"
#include "engine/adjustment_state.h"
#include "engine/normal_solver.h"
#include "engine/scratch_files.h"
#include "engine/scratch_records.h"
#include "geodesy/local_frame.h"
#include "report/progress_window.h"
#include "report/report_writer.h"

namespace torvek {

/// The two steps of solveNormals.
enum class SolveStep {
    /// Accumulate the normal equations, check them, factorise, solve, invert the factor, then
    /// the corrections and their standard deviations.
    kCorrections,
    /// Complete the inverse of the normal matrix the results need from the last kCorrections
    /// step (the dense solver turns its inverted factor into the full inverse).
    kFullInverse,
};

/// The least-squares adjustment of one run: it reads sites and vectors from the input data set,
/// forms and solves the normal equations in the local north/east/up frame of the reference point,
/// tests the residuals and writes every result into the output data set.
class AdjustmentEngine {
  public:
    /// `solver`: the store and solver of the normal equations; nullptr: the dense one
    /// (makeDenseNormalSolver).
    AdjustmentEngine(ProjectDataSet& input, AdjustedDataSet& output, ReportWriter& report,
                     ProgressWindow& progress, AdjustmentSettings& settings,
                     std::unique_ptr<NormalSolver> solver = nullptr);
    virtual ~AdjustmentEngine();
    AdjustmentEngine(const AdjustmentEngine&) = delete;
    AdjustmentEngine& operator=(const AdjustmentEngine&) = delete;

    /// One complete attempt. True when results were stored; false on any error or abort, whose
    /// message has been printed. The matrix and the scratch files are released either way.
    [[nodiscard]] bool adjust();

    // The stages of an attempt, in order. They are public so that each can be examined on its
    // own; adjust() is the only caller in a run.

    /// Opens the scratch files and sets the ellipsoid and reference frame constants (copying them
    /// into the output data set). False, after a report line, when a scratch file is lacking or
    /// the ellipsoid or reference point is unusable. The normal matrix is allocated by the first
    /// solve, when the number of unknowns is known.
    [[nodiscard]] bool beginAttempt();
    /// Releases the normal matrix and closes (deletes) the scratch files.
    void endAttempt();
    /// Loads the sites in use: control classification, unknown numbering, constraint records,
    /// tilt axis, Cartesian start coordinates, geoid check.
    [[nodiscard]] bool loadSites();
    /// Settles the bias constraints and loads the vectors in use with their weights.
    [[nodiscard]] bool loadVectors();
    /// Writes the observation equations of the current coordinates to the equation scratch file.
    /// Within the limits it also adds them to the normal equations as the next kCorrections solve
    /// would, sparing it the reading back.
    void formEquations();
    /// One step of the solution (SolveStep). False, after a report line where there is one, on
    /// a missing equation, a singular matrix or an abort.
    [[nodiscard]] bool solveNormals(SolveStep step);
    /// Applies the corrections of the last solve to every site.
    void updateCoordinates();
    /// Residuals, adjusted vectors and the chi-square and tau statistics of the last iteration.
    /// False, after an error line naming the site or vector, when one of them is not a finite
    /// number; nothing of that site or vector, and no statistic, is stored then.
    [[nodiscard]] bool runAdjustmentTests();
    /// Standard deviations (sN, sE, sU; metres) of the north, east and up components of the
    /// adjusted vector between the sites with 1-based indices `from` and `to`, from the full
    /// inverse; all 0 when an index is outside 1..loadedSiteCount.
    [[nodiscard]] Vector3 vectorSigmas(int from, int to) const;
    /// 1-based slot of the first loaded site whose name slot starts with the same four
    /// characters as `name` (case-sensitive, up to a NUL), or 0. Found through an index of the
    /// slots that loadSites builds once it has loaded every site.
    [[nodiscard]] int findSite(const char* name) const;

    /// Reads the equations back and accumulates the normal equations in the solver (the first
    /// phase of a SolveStep::kCorrections solve), starting it for the unknowns in use. False,
    /// after the memory error line, when its memory cannot be had.
    [[nodiscard]] bool accumulateNormals();
    /// Element (i, j) of the accumulated normal matrix, 1-based, either order (1/m^2 for
    /// coordinate unknowns); 0 outside 1..unknownCount or before an accumulation.
    [[nodiscard]] double normalElement(int i, int j) const;
    /// Element i of the accumulated right-hand side, 1-based; 0 outside 1..unknownCount.
    [[nodiscard]] double normalRightHandSide(int i) const;
    /// Element (i, j) of the inverse of the normal matrix after a kFullInverse solve, 1-based,
    /// either order, as the solver holds it.
    [[nodiscard]] double inverseElement(int i, int j) const;
    /// Most sites an attempt loads: what the solver's store of the normal equations holds.
    [[nodiscard]] int siteLimit() const;

    const AdjustmentState& state() const { return *state_; }
    AdjustmentState& state() { return *state_; }
    ScratchFiles& scratch() { return scratch_; }

  private:
    /// Builds siteSlotIndex_ from the loaded sites.
    void indexSiteSlots();
    /// Starts the solver's assembly of order n with a zero matrix and right-hand side; false when
    /// its memory cannot be had.
    bool startNormals(int n);
    bool runAttempt();
    /// The error line of unknown u (1-based) without an equation; marks the attempt for the
    /// retry when u is a site's.
    void reportMissingEquation(int u);
    /// The error line of a pivot at unknown u that is not a finite positive number; marks the
    /// attempt for the retry when u is a site's.
    void reportBadPivot(int u);
    /// The steps of formEquations: each equation goes to the equation scratch file and, when
    /// feed is not null, straight into the normal equations.
    void writeFormedEquation(const EquationRecord& equation, bool control, EquationFeed* feed);
    void formControlEquations(EquationFeed* feed);
    /// Bias group g (1-based): its bias constraints, then three equations per vector in use.
    void formBiasGroupEquations(int g, EquationFeed* feed);
    /// Where a vector stands: its bias group (1-based), its index among the group's vectors in
    /// use (0-based) and the number of sites whose frames were formed.
    struct VectorPosition {
        int group;
        int vector;
        int sites;
    };
    /// The three equations of one vector, with frames[k] the rotation of site k (0..at.sites)
    /// into the reference frame; equation is a record reused from vector to vector.
    void formVectorEquations(VectorPosition at, const VectorObservationRecord& vector,
                             const std::vector<Matrix3>& frames,
                             const bool (&eliminated)[kBiasParameterCount],
                             const BiasGroupRecord& bias, EquationRecord& equation,
                             EquationFeed* feed);
    /// The steps of loadVectors: the a-priori bias values and sigmas from pairs (false after an
    /// error line on one that is not finite); the sigmas the settings and weak control fix; the
    /// vector at the input's cursor (false after an error line; a vector beyond the loaded sites
    /// is counted as rejected in group).
    bool readBiasApriori(const std::array<double, kBiasAprioriCount>& pairs, BiasGroupRecord& bias);
    void constrainBiases(BiasGroupRecord& bias);
    bool loadVector(int group);
    /// The steps of loadSites: the site at the input's cursor (false after an error line;
    /// sitesWithGeoid counts those with a geoid height); its unknowns and control constraints;
    /// the bias axis two height controls leave free; every site's cartesian position.
    bool loadSite(int& sitesWithGeoid);
    void numberSiteUnknowns(int index, const std::uint8_t (&fixed)[3], const double (&sigma)[3]);
    void chooseTiltConstraintAxis();
    void formSiteCartesians();
    bool iterate();
    void rescaleSigmas();
    bool storeResults();
    bool storeVectorPrecisions();
    /// The rigorous model (rigorous_loader.cpp, rigorous_tests.cpp): the weights of the vector at
    /// the input's cursor, false after an error line naming it when its covariance is unusable;
    /// the residual statistics, site and relative precisions of the last iteration; the
    /// adjusted vector precisions from the full covariances.
    bool loadRigorousVector(const VectorObservationRecord& vector, std::int32_t divisor);
    bool runRigorousTests();
    /// The steps of runAdjustmentTests, each adding its weighted squared residuals to sum in
    /// the order the equations were written; false after an error line on a non-finite result.
    bool replayControlConstraints(double& sum);
    bool replayBiasGroup(int g, double& sum);
    bool replayVector(const VectorObservationRecord& vector, EquationRecord& equation, double& sum);
    bool finishAdjustmentTests(double sum);
    bool storeRigorousVectorPrecisions();
    /// The bias parameters that the rigorous model fixes exactly, from a bias group record.
    static void eliminatedBiases(const BiasGroupRecord& bias,
                                 bool (&eliminated)[kBiasParameterCount]);
    /// False, after an error line, when a scratch file could not be written or read back.
    bool scratchFilesHealthy();
    /// The guards against NaN and infinite results (finite_results.cpp): each is false, after an
    /// error line naming the site, vector or bias parameter, when a value about to be stored is
    /// not a finite number.
    bool iterationIsFinite();
    bool adjustedSitesAreFinite();
    bool reportError(const char* format, ...) __attribute__((format(printf, 2, 3)));

    ProjectDataSet& input_;
    AdjustedDataSet& output_;
    ReportWriter& report_;
    ProgressWindow& progress_;
    AdjustmentSettings& settings_;
    std::unique_ptr<AdjustmentState> state_;
    /// The loaded sites' name keys (siteNameKey, case-sensitive) with the first slot of each, in
    /// an open-address table (slot 0: empty entry); empty until loadSites has loaded every site
    /// of the attempt.
    std::vector<std::pair<std::uint32_t, int>> siteSlotIndex_;
    /// formEquations added this iteration's equations to the normal matrix and the right-hand
    /// side as it wrote them, so the next mode 0 solve need not read them back.
    bool normalsFormed_ = false;
    /// The store and solver of the normal equations: the dense one unless the engine was given
    /// another.
    std::unique_ptr<NormalSolver> solver_;
    ScratchFiles scratch_;
};

}  // namespace torvek

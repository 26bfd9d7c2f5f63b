#pragma once
// A test fixture for whole runs on a synthetic network: a fresh directory, the input written
// there, the program run through the test front end in that directory, and the output read back.
#include <gtest/gtest.h>

#include <string>

#include "dataset/adjusted_data_set.h"
#include "support/synthetic_network.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::testing {

class NetworkRun : public ::testing::Test {
  protected:
    void SetUp() override;
    /// Writes `net` as the input, runs the program on it (in the test's directory) and reads the
    /// output into `adjusted`. Expects exit code 0, no time-out and an unchanged input file.
    RunResult run(const SyntheticNetwork& net, FrontEndScript script = {});
    /// The same on whatever data set is already at `input` (one prepared field by field, say).
    RunResult runInput(FrontEndScript script = {});

    TempDirectory folder;  // removed after the test, with all the run left there
    std::string dir, input, output;
    AdjustedDataSet adjusted;
};

}  // namespace torvek::testing

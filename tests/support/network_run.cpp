#include "support/network_run.h"

namespace torvek::testing {

void NetworkRun::SetUp() {
    dir = folder.path();
    input = dir + "/in.dat";
    output = dir + "/out.dat";
}

RunResult NetworkRun::run(const SyntheticNetwork& net, FrontEndScript script) {
    net.writeTo(input);
    return runInput(script);
}

RunResult NetworkRun::runInput(FrontEndScript script) {
    const std::string inputBytes = readFileBytes(input);
    script.workingDirectory = dir;
    RunResult result = runTorvek({input, output}, script);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(readFileBytes(input), inputBytes) << "the input data set changed";
    adjusted = AdjustedDataSet();
    EXPECT_TRUE(adjusted.readFile(output));
    return result;
}

}  // namespace torvek::testing

// Writes the national network beside the project as a data set:
// torvek-make-national-network XML OUTPUT. The XML file is only read.
#include <cstdio>
#include <string>

#include "support/national_network.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s XML OUTPUT\n", argv[0]);
        return 2;
    }
    torvek::testing::SyntheticNetwork network;
    std::string problem;
    if (!torvek::testing::loadNationalNetwork(argv[1], network, problem)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], problem.c_str());
        return 1;
    }
    const torvek::ProjectDataSet dataSet = network.toDataSet();
    // Written beside the output and renamed into place, so that a failed write leaves no
    // half-written data set under the name asked for.
    const std::string temporary = std::string(argv[2]) + ".part";
    if (!dataSet.writeFile(temporary) || std::rename(temporary.c_str(), argv[2]) != 0) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::fprintf(stderr, "%s: %d sites, %d vectors\n", argv[2], dataSet.siteCount(),
                 dataSet.vectorCount());
    return 0;
}

// Writes a generated benchmark network:
// torvek-make-network OUTPUT [SITES [VECTORS [SEED [SITE-SIGMA]]]], the sigma in metres.
#include <cstdio>
#include <cstdlib>

#include "bench/generator/network_generator.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [SITES [VECTORS [SEED [SITE-SIGMA]]]]\n", argv[0]);
        return 2;
    }
    torvek::bench::NetworkShape shape;
    if (argc > 2)
        shape.sites = std::atoi(argv[2]);
    if (argc > 3)
        shape.vectors = std::atoi(argv[3]);
    if (argc > 4)
        shape.seed = unsigned(std::strtoul(argv[4], nullptr, 10));
    if (argc > 5)
        shape.siteSigma = std::strtod(argv[5], nullptr);
    torvek::ProjectDataSet network = torvek::bench::makeGridNetwork(shape);
    if (!network.writeFile(argv[1])) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(stderr, "%s: %d sites, %d vectors\n", argv[1], network.siteCount(),
                 network.vectorCount());
    return 0;
}

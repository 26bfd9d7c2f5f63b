// Writes a generated benchmark network:
// torvek-make-network OUTPUT [SITES [VECTORS [SEED [SITE-SIGMA]]]], the sigma in metres, a grid
// network within torvek's limits; torvek-make-network --sessions OUTPUT SITES [SEED], a campaign
// network of any size.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/generator/network_generator.h"

namespace {

int write(const torvek::ProjectDataSet& network, const char* path) {
    if (!network.writeFile(path)) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    std::fprintf(stderr, "%s: %d sites, %d vectors\n", path, network.siteCount(),
                 network.vectorCount());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [SITES [VECTORS [SEED [SITE-SIGMA]]]]\n", argv[0]);
        return 2;
    }
    if (std::strcmp(argv[1], "--sessions") == 0) {
        if (argc < 4) {
            std::fprintf(stderr, "usage: %s --sessions OUTPUT SITES [SEED]\n", argv[0]);
            return 2;
        }
        const unsigned seed = argc > 4 ? unsigned(std::strtoul(argv[4], nullptr, 10)) : 1;
        return write(torvek::bench::makeSessionNetwork(std::atoi(argv[3]), seed), argv[2]);
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
    return write(torvek::bench::makeGridNetwork(shape), argv[1]);
}

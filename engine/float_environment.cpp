#include "engine/float_environment.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define TORVEK_HAS_MXCSR 1
#endif

namespace torvek {
namespace {

#if TORVEK_HAS_MXCSR
// MXCSR bits (Intel SDM vol. 1, 10.2.3): flush-to-zero of results, denormals-are-zero of operands.
constexpr unsigned kFlushToZero = 0x8000;
constexpr unsigned kDenormalsAreZero = 0x0040;
constexpr unsigned kSubnormalModes = kFlushToZero | kDenormalsAreZero;
#endif

unsigned readMode() {
#if TORVEK_HAS_MXCSR
    return _mm_getcsr();
#else
    return 0;
#endif
}

void writeMode(unsigned mode) {
#if TORVEK_HAS_MXCSR
    _mm_setcsr(mode);
#else
    (void)mode;
#endif
}

}  // namespace

void flushSubnormalsToZero() {
#if TORVEK_HAS_MXCSR
    writeMode(readMode() | kSubnormalModes);
#endif
}

bool subnormalsFlushToZero() {
#if TORVEK_HAS_MXCSR
    return (readMode() & kSubnormalModes) == kSubnormalModes;
#else
    return false;
#endif
}

FloatEnvironmentGuard::FloatEnvironmentGuard() : saved_(readMode()) {}

FloatEnvironmentGuard::~FloatEnvironmentGuard() {
    writeMode(saved_);
}

}  // namespace torvek

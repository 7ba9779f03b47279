// The complex radix stages of the real FFT with 256-bit vectors: two complex pairs per
// operation. Mirrors the portable stages of RealFft.cpp operation for operation (the same
// products, sums and negations on every element, in the same order), so the two agree to
// the bit. Compiled with AVX enabled; called only when the processor has it.
#include "analysis/RealFftSkeleton.h"
#include "analysis/RealFftStages.h"

#include <cstring>

namespace kelvatone::analysis {

namespace {

// Lane shuffles use __builtin_shufflevector, which both g++ (12 on) and clang know.
typedef double Quad __attribute__((vector_size(32)));

inline Quad loadQuad(const double* p) {
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeQuad(double* p, Quad v) {
    std::memcpy(p, &v, sizeof v);
}

inline Quad swapWithinPairs(Quad v) {
    return __builtin_shufflevector(v, v, 1, 0, 3, 2);
}

// [a's lower pair, b's lower pair] and [a's upper pair, b's upper pair].
inline Quad lowerPairs(Quad a, Quad b) {
    return __builtin_shufflevector(a, b, 0, 1, 4, 5);
}
inline Quad upperPairs(Quad a, Quad b) {
    return __builtin_shufflevector(a, b, 2, 3, 6, 7);
}

// Twiddles of two lanes prepared for multiplications: (wr, wr) and (-wi, wi) per pair.
struct Twiddle {
    Quad re;
    Quad im;
};

inline Quad multiply(Quad a, const Twiddle& w) {
    return a * w.re + swapWithinPairs(a) * w.im;
}

template <bool Inverse> inline Quad rotateQuarter(Quad a) {
    const Quad swapped = swapWithinPairs(a);
    if (Inverse)
        return swapped * Quad{1.0, -1.0, 1.0, -1.0};
    return swapped * Quad{-1.0, 1.0, -1.0, 1.0};
}

template <bool Inverse> struct Butterfly {
    Quad y0, y1, y2, y3;
    Butterfly(Quad a0, Quad b1, Quad b2, Quad b3) {
        const Quad t0 = a0 + b2;
        const Quad t1 = a0 - b2;
        const Quad t2 = b1 + b3;
        const Quad t3 = rotateQuarter<Inverse>(b1 - b3);
        y0 = t0 + t2;
        y1 = t0 - t2;
        y2 = t1 + t3;
        y3 = t1 - t3;
    }
};

// The table's pairs (re, im) at 2i and 2j in the two lanes: one load per lane.
inline Quad pairsAt(const double* table, int i, int j) {
    typedef double Half __attribute__((vector_size(16)));
    Half first, second;
    std::memcpy(&first, table + 2 * i, sizeof first);
    std::memcpy(&second, table + 2 * j, sizeof second);
    return __builtin_shufflevector(first, second, 0, 1, 2, 3);
}

// The real parts, or the imaginary parts, of both lanes' pairs, each twice.
inline Quad realsTwice(Quad pairs) {
    return __builtin_shufflevector(pairs, pairs, 0, 0, 2, 2);
}
inline Quad imaginariesTwice(Quad pairs) {
    return __builtin_shufflevector(pairs, pairs, 1, 1, 3, 3);
}

// Twiddles w, w^2, w^3 of blocks b and c in the two lanes (see blockTwiddles in RealFft.cpp),
// formed on duplicated real and imaginary parts with the portable code's operations.
// b and c have the same parity.
template <bool Inverse>
inline void laneTwiddles(const double* table, int b, int c, Twiddle& t1, Twiddle& t2, Twiddle& t3) {
    const Quad sign = Inverse ? Quad{-1.0, -1.0, -1.0, -1.0} : Quad{1.0, 1.0, 1.0, 1.0};
    const Quad alternating = Quad{-1.0, 1.0, -1.0, 1.0};
    const Quad w = pairsAt(table, b, c);
    const Quad half = pairsAt(table, b >> 1, c >> 1);
    const Quad wr = realsTwice(w);
    const Quad wi = sign * imaginariesTwice(w);
    const Quad hr = realsTwice(half);
    const Quad hi = sign * imaginariesTwice(half);
    Quad w2r = hr, w2i = hi;
    if ((b & 1) != 0) {
        w2r = Inverse ? hi : -hi;
        w2i = Inverse ? -hr : hr;
    }
    const Quad w3r = wr * w2r + wi * -w2i;
    const Quad w3i = wi * w2r + wr * w2i;
    t1 = {wr, wi * alternating};
    t2 = {w2r, w2i * alternating};
    t3 = {w3r, w3i * alternating};
}

template <bool Inverse> void butterflyAt(double* p, int step, const Twiddle* t) {
    const Quad a0 = loadQuad(p);
    Quad b1 = loadQuad(p + step), b2 = loadQuad(p + 2 * step), b3 = loadQuad(p + 3 * step);
    if (t != nullptr) {
        b1 = multiply(b1, t[0]);
        b2 = multiply(b2, t[1]);
        b3 = multiply(b3, t[2]);
    }
    const Butterfly<Inverse> y(a0, b1, b2, b3);
    storeQuad(p, y.y0);
    storeQuad(p + step, y.y1);
    storeQuad(p + 2 * step, y.y2);
    storeQuad(p + 3 * step, y.y3);
}

// A stage whose quarters hold two or more pairs: two butterflies of one block at a time.
template <bool Inverse> void radix4Stage(int m, int quarter, double* a, const double* twiddles) {
    const int blockLength = 4 * quarter;
    const int blockCount = m / blockLength;
    const int step = 2 * quarter;
    for (int j = 0; j < step; j += 4)
        butterflyAt<Inverse>(a + j, step, nullptr);
    for (int b = 1; b < blockCount; ++b) {
        Twiddle t[3];
        laneTwiddles<Inverse>(twiddles, b, b, t[0], t[1], t[2]);
        double* block = a + 2 * b * blockLength;
        for (int j = 0; j < step; j += 4)
            butterflyAt<Inverse>(block + j, step, t);
    }
}

// Two consecutive stages in one pass: the stage over blocks of 4 * quarter pairs and the one
// over blocks of quarter pairs (quarter / 4 >= 2). The sixteen positions j + t (quarter / 4)
// + q quarter (t, q = 0..3) of a block depend only on each other through both stages, so
// they are loaded once, go through the four butterflies of the first stage and the four of
// the second, and are stored once. Every element goes through the operations of the two
// single stages in their order, so the results are the same.
template <bool Inverse>
void radix4DoubleStage(int m, int quarter, double* a, const double* twiddles) {
    const int innerQuarter = quarter / 4;
    const int blockCount = m / (4 * quarter);
    const int step = 2 * quarter;           // doubles between the outer quarters
    const int innerStep = 2 * innerQuarter; // doubles between the inner quarters
    for (int b = 0; b < blockCount; ++b) {
        Twiddle outer[3];
        laneTwiddles<Inverse>(twiddles, b, b, outer[0], outer[1], outer[2]);
        Twiddle inner[4][3];
        for (int q = 0; q < 4; ++q)
            laneTwiddles<Inverse>(twiddles, 4 * b + q, 4 * b + q, inner[q][0], inner[q][1],
                                  inner[q][2]);
        double* block = a + 2 * b * 4 * quarter;
        for (int j = 0; j < innerStep; j += 4) {
            Quad x[4][4]; // x[q][t]: position j + t innerStep + q step
            for (int q = 0; q < 4; ++q)
                for (int t = 0; t < 4; ++t)
                    x[q][t] = loadQuad(block + j + t * innerStep + q * step);
            for (int t = 0; t < 4; ++t) {
                Quad b1 = x[1][t], b2 = x[2][t], b3 = x[3][t];
                if (b != 0) {
                    b1 = multiply(b1, outer[0]);
                    b2 = multiply(b2, outer[1]);
                    b3 = multiply(b3, outer[2]);
                }
                const Butterfly<Inverse> y(x[0][t], b1, b2, b3);
                x[0][t] = y.y0;
                x[1][t] = y.y1;
                x[2][t] = y.y2;
                x[3][t] = y.y3;
            }
            for (int q = 0; q < 4; ++q) {
                Quad b1 = x[q][1], b2 = x[q][2], b3 = x[q][3];
                if (b != 0 || q != 0) {
                    b1 = multiply(b1, inner[q][0]);
                    b2 = multiply(b2, inner[q][1]);
                    b3 = multiply(b3, inner[q][2]);
                }
                const Butterfly<Inverse> y(x[q][0], b1, b2, b3);
                double* p = block + j + q * step;
                storeQuad(p, y.y0);
                storeQuad(p + innerStep, y.y1);
                storeQuad(p + 2 * innerStep, y.y2);
                storeQuad(p + 3 * innerStep, y.y3);
            }
        }
    }
}

// The wide lanes of the shared stages (RealFftSkeleton.h): two complex pairs per vector.
struct QuadLanes {
    static constexpr int kDoubles = 4;
    static Quad load(const double* p) { return loadQuad(p); }
    static void store(double* p, Quad v) { storeQuad(p, v); }

    // The last stage's outputs for the four blocks (high << groupBits) | c, arranged as they
    // are stored: toLower[q] holds natural offsets 0 and 1 of the q-th target block (from
    // highs 0 and 2), toUpper[q] offsets 2 and 3 (from highs 1 and 3).
    struct GroupOutput {
        Quad toLower[4];
        Quad toUpper[4];
    };

    template <bool Inverse>
    static void lastStageGroup(int groupBits, int c, const double* a, const double* twiddles,
                               GroupOutput& out) {
        for (int half = 0; half < 2; ++half) {
            const int first = (half << groupBits) | c;
            const int second = ((half + 2) << groupBits) | c;
            Twiddle t[3];
            laneTwiddles<Inverse>(twiddles, first, second, t[0], t[1], t[2]);
            const Quad v0 = loadQuad(a + 8 * first), v1 = loadQuad(a + 8 * first + 4);
            const Quad u0 = loadQuad(a + 8 * second), u1 = loadQuad(a + 8 * second + 4);
            const Butterfly<Inverse> y(lowerPairs(v0, u0), multiply(upperPairs(v0, u0), t[0]),
                                       multiply(lowerPairs(v1, u1), t[1]),
                                       multiply(upperPairs(v1, u1), t[2]));
            Quad* destination = half == 0 ? out.toLower : out.toUpper;
            destination[0] = y.y0;
            destination[1] = y.y1;
            destination[2] = y.y2;
            destination[3] = y.y3;
        }
    }

    static void storeTargetBlock(double* target, const GroupOutput& out, int q) {
        storeQuad(target, out.toLower[q]);
        storeQuad(target + 4, out.toUpper[q]);
    }

    template <bool Inverse>
    static void lastStageGroupStored(int groupBits, int c, int target, double* a,
                                     const double* twiddles) {
        GroupOutput out;
        lastStageGroup<Inverse>(groupBits, c, a, twiddles, out);
        storeGroupReordered<QuadLanes>(groupBits, target, a, out);
    }
};

// The longest block (in pairs) of a double stage: its inner quarters then lie at most 1 KiB
// apart, so its sixteen positions spread over at least four cache sets.
constexpr int kLongestDoubleStageBlock = 1024;

template <bool Inverse> void transform(int m, double* a, const double* twiddles) {
    int blockLength = m;
    if ((log2Of(m) & 1) != 0) {
        radix2FirstStage<QuadLanes>(m, a);
        blockLength = m / 2;
    }
    // Single stages while the sixteen positions of a double stage would crowd into few
    // cache sets, then pairs of stages while the inner one has at least two pairs per quarter.
    for (; blockLength > kLongestDoubleStageBlock; blockLength /= 4)
        radix4Stage<Inverse>(m, blockLength / 4, a, twiddles);
    for (; blockLength >= 64; blockLength /= 16)
        radix4DoubleStage<Inverse>(m, blockLength / 4, a, twiddles);
    for (; blockLength > 4; blockLength /= 4)
        radix4Stage<Inverse>(m, blockLength / 4, a, twiddles);
    lastStageInNaturalOrder<QuadLanes, Inverse>(m, a, twiddles);
}

// Stores v's first pair at p + 2 and its second at p.
inline void storeHalves(double* p, Quad v) {
    typedef double Half __attribute__((vector_size(16)));
    const Half first = __builtin_shufflevector(v, v, 0, 1);
    const Half second = __builtin_shufflevector(v, v, 2, 3);
    std::memcpy(p + 2, &first, sizeof first);
    std::memcpy(p, &second, sizeof second);
}

// Real parts from `real`, imaginary parts from `imaginary`.
inline Quad realsAndImaginaries(Quad real, Quad imaginary) {
    return __builtin_shufflevector(real, imaginary, 0, 5, 2, 7);
}

// The separation pass of separationPass in RealFft.cpp for bins k and k+1 at once (k even);
// the scalar code there does bin 1 and the very same operations.
template <bool Inverse> void separationPass(int n, double* a, int32_t nc, const double* c) {
    const int m = n / 2;
    const int stride = 4 * nc / n;
    for (int j = 4, kk = 2 * stride; j < m; j += 4, kk += 2 * stride) {
        double* mirror = a + n - j - 2;
        const Quad x = loadQuad(a + j);
        // The mirrored pairs in reverse order, read and written as two halves: the mirror
        // side lies across 32-byte boundaries.
        const Quad y = Quad{mirror[2], mirror[3], mirror[0], mirror[1]};
        const Quad wkr = Quad{0.5, 0.5, 0.5, 0.5} -
                         Quad{c[nc - kk], c[nc - kk], c[nc - kk - stride], c[nc - kk - stride]};
        const Quad wki = Quad{c[kk], c[kk], c[kk + stride], c[kk + stride]};
        const Quad d = realsAndImaginaries(x - y, x + y);
        const Quad crossed = swapWithinPairs(d);
        const Quad t = Inverse ? d * wkr + crossed * (wki * Quad{1.0, -1.0, 1.0, -1.0})
                               : d * wkr + crossed * (wki * Quad{-1.0, 1.0, -1.0, 1.0});
        storeQuad(a + j, x - t);
        const Quad mirrored = realsAndImaginaries(y + t, y - t);
        storeHalves(mirror, mirrored);
    }
}

} // namespace

void wideSeparationPass(bool inverse, int n, double* a, int32_t nc, const double* c) {
    if (inverse)
        separationPass<true>(n, a, nc, c);
    else
        separationPass<false>(n, a, nc, c);
}

bool wideFftStagesAvailable() {
    // The check may run during static initialisation, before the runtime's own setup.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}

void wideFftTransform(bool inverse, int m, double* a, const double* twiddles) {
    if (inverse)
        transform<true>(m, a, twiddles);
    else
        transform<false>(m, a, twiddles);
}

} // namespace kelvatone::analysis

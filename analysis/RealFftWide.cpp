// The complex radix stages of the real FFT with 256-bit vectors: two complex pairs per
// operation. Mirrors the portable stages of RealFft.cpp operation for operation (the same
// products, sums and negations on every element, in the same order), so the two agree to
// the bit. Compiled with AVX enabled; called only when the processor has it.
#include "analysis/RealFftStages.h"

#include <cstring>

namespace {

typedef double Quad __attribute__((vector_size(32)));
typedef long long QuadMask __attribute__((vector_size(32)));

inline Quad loadQuad(const double* p) {
    Quad v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storeQuad(double* p, Quad v) {
    std::memcpy(p, &v, sizeof v);
}

inline Quad swapWithinPairs(Quad v) {
    return __builtin_shuffle(v, QuadMask{1, 0, 3, 2});
}

// [a's lower pair, b's lower pair] and [a's upper pair, b's upper pair].
inline Quad lowerPairs(Quad a, Quad b) {
    return __builtin_shuffle(a, b, QuadMask{0, 1, 4, 5});
}
inline Quad upperPairs(Quad a, Quad b) {
    return __builtin_shuffle(a, b, QuadMask{2, 3, 6, 7});
}

// Twiddles of two lanes prepared for multiplications: (wr, wr) and (-wi, wi) per pair.
struct Twiddle {
    Quad re;
    Quad im;
};

inline Twiddle makeTwiddle(Quad w) {
    return {__builtin_shuffle(w, QuadMask{0, 0, 2, 2}),
            __builtin_shuffle(w, QuadMask{1, 1, 3, 3}) * Quad{-1.0, 1.0, -1.0, 1.0}};
}

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

// Block b's twiddle w and its square, as one pair (see blockTwiddles in RealFft.cpp).
template <bool Inverse>
inline void blockTwiddles(const double* table, int b, double* w, double* w2) {
    const double sign = Inverse ? -1.0 : 1.0;
    w[0] = table[2 * b];
    w[1] = sign * table[2 * b + 1];
    const double hr = table[2 * (b >> 1)];
    const double hi = sign * table[2 * (b >> 1) + 1];
    if ((b & 1) == 0) {
        w2[0] = hr;
        w2[1] = hi;
    } else if (Inverse) {
        w2[0] = hi;
        w2[1] = -hr;
    } else {
        w2[0] = -hi;
        w2[1] = hr;
    }
}

// Twiddles w, w^2, w^3 of blocks b and c in the two lanes.
template <bool Inverse>
inline void laneTwiddles(const double* table, int b, int c, Twiddle& t1, Twiddle& t2, Twiddle& t3) {
    double w[4], w2[4];
    blockTwiddles<Inverse>(table, b, w, w2);
    blockTwiddles<Inverse>(table, c, w + 2, w2 + 2);
    const Quad first = loadQuad(w);
    const Quad second = loadQuad(w2);
    t1 = makeTwiddle(first);
    t2 = makeTwiddle(second);
    t3 = makeTwiddle(multiply(first, t2));
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

// The last stage, blocks of four pairs: two blocks at a time, block 0 alone without twiddle
// and the last odd one out alone.
template <bool Inverse> void lastRadix4Stage(int m, double* a, const double* twiddles) {
    const int blockCount = m / 4;
    auto single = [&](int b, bool withTwiddle) {
        double* p = a + 8 * b;
        Twiddle t[3];
        laneTwiddles<Inverse>(twiddles, b, b, t[0], t[1], t[2]);
        const Quad v0 = loadQuad(p), v1 = loadQuad(p + 4);
        Quad b1 = upperPairs(v0, v0), b2 = lowerPairs(v1, v1), b3 = upperPairs(v1, v1);
        if (withTwiddle) {
            b1 = multiply(b1, t[0]);
            b2 = multiply(b2, t[1]);
            b3 = multiply(b3, t[2]);
        }
        const Butterfly<Inverse> y(lowerPairs(v0, v0), b1, b2, b3);
        double out[8];
        storeQuad(out, lowerPairs(y.y0, y.y1));
        storeQuad(out + 4, lowerPairs(y.y2, y.y3));
        std::memcpy(p, out, sizeof out);
    };
    single(0, false);
    int b = 1;
    for (; b + 1 < blockCount; b += 2) {
        double* p = a + 8 * b;
        Twiddle t[3];
        laneTwiddles<Inverse>(twiddles, b, b + 1, t[0], t[1], t[2]);
        const Quad v0 = loadQuad(p), v1 = loadQuad(p + 4);
        const Quad u0 = loadQuad(p + 8), u1 = loadQuad(p + 12);
        const Butterfly<Inverse> y(lowerPairs(v0, u0), multiply(upperPairs(v0, u0), t[0]),
                                   multiply(lowerPairs(v1, u1), t[1]),
                                   multiply(upperPairs(v1, u1), t[2]));
        storeQuad(p, lowerPairs(y.y0, y.y1));
        storeQuad(p + 4, lowerPairs(y.y2, y.y3));
        storeQuad(p + 8, upperPairs(y.y0, y.y1));
        storeQuad(p + 12, upperPairs(y.y2, y.y3));
    }
    if (b < blockCount)
        single(b, true);
}

void radix2FirstStage(int m, double* a) {
    double* upper = a + m;
    for (int j = 0; j < m; j += 4) {
        const Quad x = loadQuad(a + j);
        const Quad y = loadQuad(upper + j);
        storeQuad(a + j, x + y);
        storeQuad(upper + j, x - y);
    }
}

int log2Of(int m) {
    int bits = 0;
    while ((1 << bits) < m)
        ++bits;
    return bits;
}

template <bool Inverse> void stages(int m, double* a, const double* twiddles) {
    int blockLength = m;
    if ((log2Of(m) & 1) != 0) {
        radix2FirstStage(m, a);
        blockLength = m / 2;
    }
    for (; blockLength >= 8; blockLength /= 4)
        radix4Stage<Inverse>(m, blockLength / 4, a, twiddles);
    if (blockLength == 4)
        lastRadix4Stage<Inverse>(m, a, twiddles);
}

} // namespace

bool wideFftStagesAvailable() {
    // The check may run during static initialisation, before the runtime's own setup.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}

void wideFftStages(bool inverse, int m, double* a, const double* twiddles) {
    if (inverse)
        stages<true>(m, a, twiddles);
    else
        stages<false>(m, a, twiddles);
}

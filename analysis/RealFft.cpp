// The real transform runs as a complex transform of the n/2 pairs z[p] = x[2p] + i x[2p+1],
// followed (forward) or preceded (inverse) by a pass that separates or recombines the
// spectra of the even and odd samples.
//
// The complex transform reduces the polynomial z(t) = sum z[p] t^p modulo ever smaller
// factors of t^m - 1 (m = n/2): a block of length 4L holding z mod (t^4L - w^4) becomes four
// blocks of length L holding z mod (t^L - w i^q). Every block of a stage thus uses one
// twiddle w for all its butterflies, and the inner loops run over contiguous data. The
// blocks come out in bit-reversed order of their roots, and the twiddle of block b is the
// b-th entry of a first-quadrant table stored in bit-reversed order, which is the same for
// every transform length up to the one it was built for. The last stage writes its outputs
// straight to their natural positions, which makes the bit reversal part of that stage.
#include "analysis/RealFft.h"

#include "analysis/RealFftSkeleton.h"
#include "analysis/RealFftStages.h"

#include <cmath>
#include <cstring>

namespace kelvatone::analysis {

namespace {

// One complex number (real, imaginary) in a vector register.
typedef double Pair __attribute__((vector_size(16)));

inline Pair loadPair(const double* p) {
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void storePair(double* p, Pair v) {
    std::memcpy(p, &v, sizeof v);
}

// A twiddle factor prepared for multiplications: (wr, wr) and (-wi, wi).
struct Twiddle {
    Pair re;
    Pair im;
};

inline Pair multiply(Pair a, const Twiddle& w) {
    return a * w.re + Pair{a[1], a[0]} * w.im;
}

// a x (+i) for the forward kernel e^(+...), a x (-i) for the inverse one. The sign comes from
// an exact multiplication by -1: a swap and a product, two vector instructions everywhere.
template <bool Inverse> inline Pair rotateQuarter(Pair a) {
    const Pair swapped = Pair{a[1], a[0]};
    if (Inverse)
        return swapped * Pair{1.0, -1.0};
    return swapped * Pair{-1.0, 1.0};
}

// Puts the m complex pairs of a into bit-reversed order, in place. The scratch area gets
// the bit-reversed values of the lower half of the index bits (at most sqrt(m) entries).
void bitReversePairs(int m, int32_t* scratch, double* a) {
    const int bits = log2Of(m);
    const int halfBits = bits / 2;
    const int32_t halfCount = 1 << halfBits;
    const bool oddBits = (bits & 1) != 0;
    const int32_t highStride = oddBits ? 2 * halfCount : halfCount;

    scratch[0] = 0;
    for (int32_t len = 1; len < halfCount; len <<= 1)
        for (int32_t i = 0; i < len; ++i)
            scratch[i + len] = scratch[i] + halfCount / (2 * len);

    const int middleCount = oddBits ? 2 : 1;
    for (int32_t high = 0; high < halfCount; ++high) {
        for (int middle = 0; middle < middleCount; ++middle) {
            for (int32_t low = 0; low < halfCount; ++low) {
                const int32_t from = high * highStride + middle * halfCount + low;
                const int32_t to = scratch[low] * highStride + middle * halfCount + scratch[high];
                if (from < to) {
                    const Pair t = loadPair(a + 2 * from);
                    storePair(a + 2 * from, loadPair(a + 2 * to));
                    storePair(a + 2 * to, t);
                }
            }
        }
    }
}

// Twiddle table of nw doubles: the nw/2 first-quadrant roots e^(i (pi/2) p / (nw/2)) as
// (cos, sin) pairs, in bit-reversed order of p. Sines and cosines of the upper half are
// taken from the lower half's angles so that both halves are equally accurate.
void buildTwiddleTable(int32_t nw, int32_t* work, double* w) {
    work[0] = nw;
    work[1] = 1;
    if (nw < 2)
        return;
    w[0] = 1.0;
    w[1] = 0.0;
    if (nw == 2)
        return;
    const int32_t half = nw / 2;
    const double step = std::atan(1.0) / half;
    w[half] = w[half + 1] = std::cos(step * half);
    for (int32_t j = 2; j < half; j += 2) {
        const double c = std::cos(step * j);
        const double s = std::sin(step * j);
        w[j] = c;
        w[j + 1] = s;
        w[nw - j] = s;
        w[nw - j + 1] = c;
    }
    bitReversePairs(nw / 2, work + 2, w);
}

// Cosine table of nc doubles: c[i] = 0.5 cos(2 pi i / (4 nc)) for 0 <= i < nc, so that
// 0.5 sin of the same angle is c[nc - i].
void buildCosineTable(int32_t nc, int32_t* work, double* c) {
    work[1] = nc;
    if (nc < 1)
        return;
    c[0] = 0.5;
    if (nc == 1)
        return;
    const int32_t half = nc / 2;
    const double step = std::atan(1.0) / half;
    c[half] = 0.5 * std::cos(step * half);
    for (int32_t j = 1; j < half; ++j) {
        c[j] = 0.5 * std::cos(step * j);
        c[nc - j] = 0.5 * std::sin(step * j);
    }
}

void maintainTables(int n, int32_t* work, double* table) {
    if (n > 4 * work[0])
        buildTwiddleTable(n / 4, work, table);
    if (n > 4 * work[1])
        buildCosineTable(n / 4, work, table + work[0]);
}

// The twiddles of block b in a stage, prepared for multiplications: w = W[b], its square,
// which is W[b/2] for even b and i W[b/2] for odd b, and its cube w w^2 (all conjugated for
// the inverse kernel). Each is built from splats of the table's entries and exact sign
// changes, and the cube's terms are those of multiply(w, w^2): this needs no lane
// extractions, which cost most in WebAssembly, and gives the bits of the wide build.
struct BlockTwiddles {
    Twiddle w1, w2, w3;
};

template <bool Inverse> inline BlockTwiddles blockTwiddles(const double* table, int b) {
    // A Twiddle's factor (-wi, wi) from the entry wi, for the plain or the conjugated root.
    const Pair imaginarySigns = Inverse ? Pair{1.0, -1.0} : Pair{-1.0, 1.0};
    const double* entry = table + 2 * b;
    const double* half = table + 2 * (b >> 1);
    BlockTwiddles t;
    t.w1 = {Pair{entry[0], entry[0]}, Pair{entry[1], entry[1]} * imaginarySigns};
    if ((b & 1) != 0) {
        // i W[b/2] = (-hi, hr), conjugated (-hi, -hr): the real part is -hi either way.
        const double realPart = -half[1];
        t.w2 = {Pair{realPart, realPart}, Pair{half[0], half[0]} * imaginarySigns};
    } else {
        t.w2 = {Pair{half[0], half[0]}, Pair{half[1], half[1]} * imaginarySigns};
    }
    t.w3 = {t.w1.re * t.w2.re - t.w1.im * t.w2.im, t.w1.im * t.w2.re + t.w1.re * t.w2.im};
    return t;
}

// The four outputs of one butterfly whose odd quarters are already multiplied by w, w^2, w^3.
template <bool Inverse>
inline void butterfly(double* p0, double* p1, double* p2, double* p3, Pair a0, Pair b1, Pair b2,
                      Pair b3) {
    const Pair t0 = a0 + b2;
    const Pair t1 = a0 - b2;
    const Pair t2 = b1 + b3;
    const Pair t3 = rotateQuarter<Inverse>(b1 - b3);
    storePair(p0, t0 + t2);
    storePair(p1, t0 - t2);
    storePair(p2, t1 + t3);
    storePair(p3, t1 - t3);
}

// One radix-4 stage over blocks of 4 * quarter pairs, block b using twiddle b of the table.
// Block 0 has the twiddle 1.
template <bool Inverse> void radix4Stage(int m, int quarter, double* a, const double* twiddles) {
    const int blockLength = 4 * quarter;
    const int blockCount = m / blockLength;
    const int step = 2 * quarter;
    for (int j = 0; j < step; j += 2) {
        double* p = a + j;
        butterfly<Inverse>(p, p + step, p + 2 * step, p + 3 * step, loadPair(p), loadPair(p + step),
                           loadPair(p + 2 * step), loadPair(p + 3 * step));
    }
    for (int b = 1; b < blockCount; ++b) {
        const BlockTwiddles t = blockTwiddles<Inverse>(twiddles, b);
        double* block = a + 2 * b * blockLength;
        for (int j = 0; j < step; j += 2) {
            double* p = block + j;
            butterfly<Inverse>(p, p + step, p + 2 * step, p + 3 * step, loadPair(p),
                               multiply(loadPair(p + step), t.w1),
                               multiply(loadPair(p + 2 * step), t.w2),
                               multiply(loadPair(p + 3 * step), t.w3));
        }
    }
}

// For an odd number of index bits: the first split (radix2FirstStage) and the radix-4 stage
// of its two halves in one pass, the halves' blocks taking twiddles 1 and W[1]. Each pair
// sees the operations of the two stages in their order, one pass over the data fewer.
template <bool Inverse> void radix2And4FirstStages(int m, double* a, const double* twiddles) {
    const int step = m / 4;
    double* upper = a + m;
    const BlockTwiddles t = blockTwiddles<Inverse>(twiddles, 1);
    for (int j = 0; j < step; j += 2) {
        double* p = a + j;
        double* q = upper + j;
        Pair sum[4], difference[4];
        for (int k = 0; k < 4; ++k) {
            const Pair x = loadPair(p + k * step);
            const Pair y = loadPair(q + k * step);
            sum[k] = x + y;
            difference[k] = x - y;
        }
        butterfly<Inverse>(p, p + step, p + 2 * step, p + 3 * step, sum[0], sum[1], sum[2], sum[3]);
        butterfly<Inverse>(q, q + step, q + 2 * step, q + 3 * step, difference[0],
                           multiply(difference[1], t.w1), multiply(difference[2], t.w2),
                           multiply(difference[3], t.w3));
    }
}

// The portable lanes of the shared stages (RealFftSkeleton.h): one complex pair per vector.
struct PairLanes {
    static constexpr int kDoubles = 2;
    static Pair load(const double* p) { return loadPair(p); }
    static void store(double* p, Pair v) { storePair(p, v); }

    // out[high][q]: the value for position q of block (high << groupBits) | c.
    struct GroupOutput {
        Pair out[4][4];
    };

    // The outputs of the last stage's butterfly for block b: y[q] for position q. Every
    // block, block 0 too, is multiplied by its twiddles, as in the wide build.
    template <bool Inverse>
    static void lastStageBlock(int b, const double* a, const double* twiddles, Pair (&y)[4]) {
        const double* p = a + 8 * b;
        const BlockTwiddles t = blockTwiddles<Inverse>(twiddles, b);
        const Pair a0 = loadPair(p);
        const Pair b1 = multiply(loadPair(p + 2), t.w1);
        const Pair b2 = multiply(loadPair(p + 4), t.w2);
        const Pair b3 = multiply(loadPair(p + 6), t.w3);
        const Pair t0 = a0 + b2;
        const Pair t1 = a0 - b2;
        const Pair t2 = b1 + b3;
        const Pair t3 = rotateQuarter<Inverse>(b1 - b3);
        y[0] = t0 + t2;
        y[1] = t0 - t2;
        y[2] = t1 + t3;
        y[3] = t1 - t3;
    }

    // The outputs of the last stage's butterflies for the four blocks of group c.
    template <bool Inverse>
    static void lastStageGroup(int groupBits, int c, const double* a, const double* twiddles,
                               GroupOutput& group) {
        for (int high = 0; high < 4; ++high)
            lastStageBlock<Inverse>((high << groupBits) | c, a, twiddles, group.out[high]);
    }

    // Output q of block (high << groupBits) | c goes to position reverse2(high) of block
    // (reverse2(q) << groupBits) | target (see storeGroupReordered): stored there as it is
    // computed, with no group output in between, which WebAssembly keeps in memory.
    template <bool Inverse>
    static void lastStageGroupStored(int groupBits, int c, int target, double* a,
                                     const double* twiddles) {
        for (int high = 0; high < 4; ++high) {
            Pair y[4];
            lastStageBlock<Inverse>((high << groupBits) | c, a, twiddles, y);
            double* position = a + 8 * target + 2 * kReverse2[high];
            for (int q = 0; q < 4; ++q)
                storePair(position + 8 * (kReverse2[q] << groupBits), y[q]);
        }
    }

    // Natural offset k of the q-th target block comes from the block of high reverse2(k).
    static void storeTargetBlock(double* target, const GroupOutput& group, int q) {
        for (int offset = 0; offset < 4; ++offset)
            storePair(target + 2 * offset, group.out[kReverse2[offset]][q]);
    }
};

// All stages, natural order in and out; short transforms reorder separately.
template <bool Inverse>
void portableTransform(int m, double* a, int32_t* scratch, const double* twiddles) {
    const bool oddBits = (log2Of(m) & 1) != 0;
    int blockLength = m;
    if (m < kShortestFusedTransform) {
        if (oddBits) {
            radix2FirstStage<PairLanes>(m, a);
            blockLength = m / 2;
        }
        for (; blockLength >= 4; blockLength /= 4)
            radix4Stage<Inverse>(m, blockLength / 4, a, twiddles);
        bitReversePairs(m, scratch, a);
        return;
    }
    if (oddBits) {
        radix2And4FirstStages<Inverse>(m, a, twiddles);
        blockLength = m / 8;
    }
    for (; blockLength > 4; blockLength /= 4)
        radix4Stage<Inverse>(m, blockLength / 4, a, twiddles);
    lastStageInNaturalOrder<PairLanes, Inverse>(m, a, twiddles);
}

#ifdef KELVATONE_WIDE_FFT
const bool kWideStagesAvailable = wideFftStagesAvailable();
#endif

// Unnormalised complex DFT of m pairs with kernel e^(+2 pi i j k / m) (forward) or
// e^(-2 pi i j k / m) (inverse), natural order in and out. True when the wide stages ran.
template <bool Inverse>
bool complexTransform(int m, double* a, int32_t* scratch, const double* twiddles, bool allowWide) {
#ifdef KELVATONE_WIDE_FFT
    if (allowWide && kWideStagesAvailable && m >= kShortestFusedTransform) {
        wideFftTransform(Inverse, m, a, twiddles);
        return true;
    }
#else
    (void)allowWide;
#endif
    portableTransform<Inverse>(m, a, scratch, twiddles);
    return false;
}

// Bins 1 .. binEnd-1 and their mirrors m - k, with w = (1 + i e^(2 pi i k / n)) / 2.
// Forward: separates the complex spectrum Z of the pairs into the spectrum X of the real
// sequence: with A = Z[k], B = Z[m-k], D = A - conj(B) and y = w D, X[k] = A - y and
// X[m-k] = B + conj(y). Inverse: recombines them: with D = X[k] - conj(X[m-k]) and
// y = conj(w) D, Z[k] = X[k] - y and Z[m-k] = X[m-k] + conj(y).
// One bin per vector, real and imaginary parts in the lanes; separationPassInTwos and the
// wide pass perform the same operations two bins at a time.
template <bool Inverse>
void separationPass(int n, double* a, int32_t nc, const double* c, int binEnd) {
    const int stride = 4 * nc / n;
    for (int j = 2, kk = stride; j < 2 * binEnd; j += 2, kk += stride) {
        const Pair x = loadPair(a + j);
        const Pair y = loadPair(a + n - j);
        const Pair wkr = Pair{0.5, 0.5} - c[nc - kk];
        const Pair wki = Inverse ? Pair{c[kk], -c[kk]} : Pair{-c[kk], c[kk]};
        const Pair sum = x + y;
        const Pair difference = x - y;
        const Pair d = Pair{difference[0], sum[1]};
        const Pair t = d * wkr + Pair{d[1], d[0]} * wki;
        storePair(a + j, x - t);
        const Pair mirrorSum = y + t;
        const Pair mirrorDifference = y - t;
        storePair(a + n - j, Pair{mirrorSum[0], mirrorDifference[1]});
    }
}

// separationPass for bins k and k+1 at once (k even), from bin 2 on: a vector holds the real
// or the imaginary parts of the two bins, and the products need no lane swap. Per element
// the very same operations as separationPass (adding d (-c) is subtracting d c), so the
// bits are the same; in WebAssembly this needs about a third fewer instructions.
template <bool Inverse> void separationPassInTwos(int n, double* a, int32_t nc, const double* c) {
    const int stride = 4 * nc / n;
    // Bins k, k+1 at `bins`, their mirrors m - k - 1, m - k at `mirror`, and the cosines of
    // k and of nc - k (the sine) at `cosine` and `sine`, all stepped along with k.
    double* mirror = a + n - 6;
    const double* cosine = c + 2 * stride;
    const double* sine = c + nc - 2 * stride;
    for (double* bins = a + 4; bins < mirror; bins += 4, mirror -= 4) {
        const Pair x0 = loadPair(bins);
        const Pair x1 = loadPair(bins + 2);
        const Pair y0 = loadPair(mirror + 2);
        const Pair y1 = loadPair(mirror);
        const Pair xr = Pair{x0[0], x1[0]};
        const Pair xi = Pair{x0[1], x1[1]};
        const Pair yr = Pair{y0[0], y1[0]};
        const Pair yi = Pair{y0[1], y1[1]};
        const Pair wkr = Pair{0.5, 0.5} - Pair{sine[0], sine[-stride]};
        const Pair wki = Pair{cosine[0], cosine[stride]};
        cosine += 2 * stride;
        sine -= 2 * stride;
        const Pair dr = xr - yr;
        const Pair di = xi + yi;
        const Pair tr = Inverse ? dr * wkr + di * wki : dr * wkr - di * wki;
        const Pair ti = Inverse ? di * wkr - dr * wki : di * wkr + dr * wki;
        const Pair outR = xr - tr;
        const Pair outI = xi - ti;
        const Pair mirrorR = yr + tr;
        const Pair mirrorI = yi - ti;
        storePair(bins, Pair{outR[0], outI[0]});
        storePair(bins + 2, Pair{outR[1], outI[1]});
        storePair(mirror + 2, Pair{mirrorR[0], mirrorI[0]});
        storePair(mirror, Pair{mirrorR[1], mirrorI[1]});
    }
}

// The passes that take bins in twos do so from bin 2 on, and leave bin 1 to separationPass.
constexpr int kShortestSeparationInTwos = 32;

// True when the wide build ran.
template <bool Inverse>
bool separate(int n, double* a, int32_t nc, const double* c, bool allowWide) {
    if (n < kShortestSeparationInTwos) {
        separationPass<Inverse>(n, a, nc, c, n / 4);
        return false;
    }
    separationPass<Inverse>(n, a, nc, c, 2);
#ifdef KELVATONE_WIDE_FFT
    if (allowWide && kWideStagesAvailable) {
        wideSeparationPass(Inverse, n, a, nc, c);
        return true;
    }
#else
    (void)allowWide;
#endif
    separationPassInTwos<Inverse>(n, a, nc, c);
    return false;
}

} // namespace

void realFft(int n, int direction, double* a, int32_t* work, double* table) {
    realFftWithStages(n, direction, a, work, table, true);
}

bool realFftWithStages(int n, int direction, double* a, int32_t* work, double* table,
                       bool allowWide) {
    maintainTables(n, work, table);
    const int m = n / 2;
    const double* twiddles = table;
    const double* cosines = table + work[0];
    if (direction >= 0) {
        const bool wideTransform = complexTransform<false>(m, a, work + 2, twiddles, allowWide);
        const bool wideSeparation = separate<false>(n, a, work[1], cosines, allowWide);
        const double difference = a[0] - a[1];
        a[0] += a[1];
        a[1] = difference;
        return wideTransform && wideSeparation;
    }
    a[1] = 0.5 * (a[0] - a[1]);
    a[0] -= a[1];
    const bool wideSeparation = separate<true>(n, a, work[1], cosines, allowWide);
    const bool wideTransform = complexTransform<true>(m, a, work + 2, twiddles, allowWide);
    return wideTransform && wideSeparation;
}

} // namespace kelvatone::analysis

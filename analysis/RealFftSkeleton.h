// Internal to the real FFT: the parts of the complex transform that the portable stages
// (RealFft.cpp, one complex pair per vector) and the wide ones (RealFftWide.cpp, two pairs
// per vector) share, written once over a lane type. A lane type provides:
//   kDoubles                           doubles per vector (2 or 4)
//   Vector load(const double*)         an unaligned load of kDoubles doubles
//   void store(double*, Vector)        an unaligned store
//   GroupOutput                        the last stage's outputs of one group of four blocks
//   lastStageGroup<Inverse>(groupBits, c, a, twiddles, GroupOutput&)
//                                      those outputs for the blocks (high << groupBits) | c
//   lastStageGroupStored<Inverse>(groupBits, c, target, a, twiddles)
//                                      the same outputs stored where storeGroupReordered
//                                      would store them for partner `target`
//   storeTargetBlock(target, out, q)   writes the four natural-order pairs of the q-th
//                                      target block (see storeGroupReordered) at `target`
// Everything here has internal linkage: RealFftWide.cpp is compiled for AVX, and an inline
// copy shared with the portable file could be the one the linker keeps for both.
#pragma once

namespace kelvatone::analysis {
namespace {

// The number of bits of m, a power of two: m = 2^log2Of(m).
inline int log2Of(int m) {
    int bits = 0;
    while ((1 << bits) < m)
        ++bits;
    return bits;
}

// The lowest `bits` bits of c + 1 in reverse order, given `reversed`, those of c, and
// c + 1 < 2^bits: counting in reverse order, the carry runs from the highest bit down.
inline int nextReversed(int reversed, int bits) {
    int bit = 1 << (bits - 1);
    while ((reversed & bit) != 0) {
        reversed ^= bit;
        bit >>= 1;
    }
    return reversed | bit;
}

// The first split of t^m - 1 into t^(m/2) - 1 and t^(m/2) + 1: no twiddle.
template <class Lanes> void radix2FirstStage(int m, double* a) {
    double* upper = a + m;
    for (int j = 0; j < m; j += Lanes::kDoubles) {
        const auto x = Lanes::load(a + j);
        const auto y = Lanes::load(upper + j);
        Lanes::store(a + j, x + y);
        Lanes::store(upper + j, x - y);
    }
}

// Position q of block (high << groupBits) | c belongs, in natural order, at position
// reverse2(high) of block (reverse2(q) << groupBits) | partner, partner being c with its
// groupBits bits reversed.
// The two bits of an index below 4 in reverse order.
constexpr int kReverse2[4] = {0, 2, 1, 3};

template <class Lanes>
void storeGroupReordered(int groupBits, int partner, double* a,
                         const typename Lanes::GroupOutput& out) {
    // Block (high << groupBits) | partner lies high * (8 << groupBits) doubles past block
    // partner, as partner < 2^groupBits.
    double* first = a + 8 * partner;
    const int highStride = 8 << groupBits;
    for (int q = 0; q < 4; ++q)
        Lanes::storeTargetBlock(first + kReverse2[q] * highStride, out, q);
}

// The fused last stage needs at least four groups of four blocks of four pairs.
constexpr int kShortestFusedTransform = 16;

// The last radix-4 stage of a transform of m >= kShortestFusedTransform pairs, fused with
// the bit reversal: the blocks fall into groups of four (the blocks whose lower groupBits
// bits are c), and the natural positions of one group's outputs are the input positions of
// the group with c reversed, so each such pair of groups is transformed and exchanged at
// once.
template <class Lanes, bool Inverse>
void lastStageInNaturalOrder(int m, double* a, const double* twiddles) {
    const int groupBits = log2Of(m) - 4;
    const int groupCount = 1 << groupBits;
    int partner = 0;
    for (int c = 0; c < groupCount; ++c) {
        if (c > 0)
            partner = nextReversed(partner, groupBits);
        if (partner < c)
            continue;
        typename Lanes::GroupOutput out;
        Lanes::template lastStageGroup<Inverse>(groupBits, c, a, twiddles, out);
        // Group c has been read: the partner's outputs may go to its blocks.
        if (partner != c)
            Lanes::template lastStageGroupStored<Inverse>(groupBits, partner, c, a, twiddles);
        storeGroupReordered<Lanes>(groupBits, partner, a, out);
    }
}

} // namespace
} // namespace kelvatone::analysis

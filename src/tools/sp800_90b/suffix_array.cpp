// src/tools/sp800_90b/suffix_array.cpp: SA-IS (Nong, Zhang and Chan,
// "Two efficient algorithms for linear time suffix array construction") and
// the LCP array by the permuted-LCP method (Kärkkäinen, Manzini and Puglisi).
//
// Every level sorts a sequence with a virtual sentinel after its end, smaller
// than every symbol. The reduced problem of a level (one name per LMS
// substring) and its suffix array both live inside the level's suffix array:
// there are at most n / 2 LMS positions, so the names fit in the upper half
// and the reduced suffix array in the lower one.
#include "tools/sp800_90b/suffix_array.h"

#include <algorithm>
#include <cassert>
#include <span>

namespace talvora::tools::sp800_90b {

namespace {

using Index = std::uint32_t;
constexpr Index EMPTY = 0xffff'ffffu;

// Suffix types: S when the suffix is smaller than the next one, L otherwise;
// the last symbol is L (the sentinel follows it). One bit each.
class Types {
  public:
    template <class Char> explicit Types(std::span<const Char> s) : bits_((s.size() + 63) / 64) {
        const std::size_t n = s.size();
        bool next_is_s = false; // position n - 1 is L
        for (std::size_t i = n - 1; i-- > 0;) {
            const bool is_s = s[i] < s[i + 1] || (s[i] == s[i + 1] && next_is_s);
            if (is_s) bits_[i / 64] |= std::uint64_t{1} << (i % 64);
            next_is_s = is_s;
        }
    }
    bool is_s(std::size_t i) const { return (bits_[i / 64] >> (i % 64)) & 1u; }
    // A leftmost S position: S after an L.
    bool is_lms(std::size_t i) const { return i > 0 && is_s(i) && !is_s(i - 1); }

  private:
    std::vector<std::uint64_t> bits_;
};

// Bucket boundaries: the first slot of each symbol's bucket (heads) or one
// past its last (tails).
void bucket_bounds(std::span<const Index> counts, std::vector<Index>& out, bool tails) {
    Index sum = 0;
    for (std::size_t c = 0; c < counts.size(); ++c) {
        sum += counts[c];
        out[c] = tails ? sum : sum - counts[c];
    }
}

template <class Char>
void induce(std::span<const Char> s, const Types& types, std::span<Index> sa,
            std::span<const Index> counts, std::vector<Index>& bucket) {
    const std::size_t n = s.size();
    // L suffixes, left to right; the sentinel's predecessor n - 1 comes first.
    bucket_bounds(counts, bucket, false);
    sa[bucket[s[n - 1]]++] = static_cast<Index>(n - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const Index j = sa[i];
        if (j == EMPTY || j == 0 || types.is_s(j - 1)) continue;
        sa[bucket[s[j - 1]]++] = j - 1;
    }
    // S suffixes, right to left.
    bucket_bounds(counts, bucket, true);
    for (std::size_t i = n; i-- > 0;) {
        const Index j = sa[i];
        if (j == EMPTY || j == 0 || !types.is_s(j - 1)) continue;
        sa[--bucket[s[j - 1]]] = j - 1;
    }
}

// Whether the LMS substrings at a and b (each up to and including the next
// LMS position) are equal. The one reaching the sentinel equals no other.
template <class Char>
bool same_lms_substring(std::span<const Char> s, const Types& types, std::size_t a, std::size_t b) {
    const std::size_t n = s.size();
    for (std::size_t d = 0;; ++d) {
        if (a + d == n || b + d == n) return false;
        if (s[a + d] != s[b + d] || types.is_s(a + d) != types.is_s(b + d)) return false;
        // Equal types at every earlier offset: a + d is LMS exactly when b + d is.
        if (d > 0 && types.is_lms(a + d)) return true;
    }
}

template <class Char> void sais(std::span<const Char> s, std::span<Index> sa, Index alphabet) {
    const std::size_t n = s.size();
    if (n == 0) return;
    if (n == 1) {
        sa[0] = 0;
        return;
    }
    const Types types(s);
    std::vector<Index> counts(alphabet, 0);
    for (const Char c : s)
        ++counts[c];
    std::vector<Index> bucket(alphabet);

    // Sort the LMS substrings: LMS positions at their buckets' ends, then
    // one induction.
    std::fill(sa.begin(), sa.end(), EMPTY);
    bucket_bounds(std::span<const Index>(counts), bucket, true);
    for (std::size_t i = n; i-- > 1;)
        if (types.is_lms(i)) sa[--bucket[s[i]]] = static_cast<Index>(i);
    induce(s, types, sa, std::span<const Index>(counts), bucket);

    // The sorted LMS positions to the front, then their names at
    // n1 + position / 2 (LMS positions are at least two apart).
    std::size_t n1 = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (types.is_lms(sa[i])) sa[n1++] = sa[i];
    std::fill(sa.begin() + static_cast<std::ptrdiff_t>(n1), sa.end(), EMPTY);
    Index names = 0;
    std::size_t previous = n;
    for (std::size_t i = 0; i < n1; ++i) {
        const Index position = sa[i];
        if (previous == n || !same_lms_substring(s, types, previous, position)) ++names;
        previous = position;
        sa[n1 + position / 2] = names - 1;
    }
    // The reduced sequence: names in text order, at the end of sa.
    for (std::size_t i = n, j = n; i-- > n1;)
        if (sa[i] != EMPTY) sa[--j] = sa[i];

    const std::span<Index> reduced = sa.subspan(n - n1, n1);
    const std::span<Index> reduced_sa = sa.subspan(0, n1);
    if (names < n1) {
        sais(std::span<const Index>(reduced), reduced_sa, names);
    } else {
        for (std::size_t i = 0; i < n1; ++i)
            reduced_sa[reduced[i]] = static_cast<Index>(i);
    }

    // Back from reduced ranks to LMS positions, sorted.
    for (std::size_t i = 1, j = 0; i < n; ++i)
        if (types.is_lms(i)) reduced[j++] = static_cast<Index>(i);
    for (std::size_t i = 0; i < n1; ++i)
        reduced_sa[i] = reduced[reduced_sa[i]];
    std::fill(sa.begin() + static_cast<std::ptrdiff_t>(n1), sa.end(), EMPTY);

    // Each sorted LMS suffix to the end of its bucket, largest first: its
    // final slot is never left of its current one.
    bucket_bounds(std::span<const Index>(counts), bucket, true);
    for (std::size_t i = n1; i-- > 0;) {
        const Index j = sa[i];
        sa[i] = EMPTY;
        sa[--bucket[s[j]]] = j;
    }
    induce(s, types, sa, std::span<const Index>(counts), bucket);
}

} // namespace

std::vector<std::uint32_t> suffix_array(Symbols s, unsigned alphabet) {
    assert(s.size() <= MAX_SEQUENCE_LEN);
    std::vector<Index> sa(s.size());
    sais(s, std::span<Index>(sa), alphabet);
    return sa;
}

void suffix_array_to_lcp(Symbols s, std::vector<std::uint32_t>& sa) {
    const std::size_t n = s.size();
    if (n == 0) return;
    // phi[p]: the suffix ranked just before the one at p. Overwritten in
    // text order by the permuted LCP (each value at most one less than the
    // previous, so the scan is linear).
    std::vector<Index> plcp(n);
    plcp[sa[0]] = EMPTY;
    for (std::size_t i = 1; i < n; ++i)
        plcp[sa[i]] = sa[i - 1];
    std::size_t h = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Index before = plcp[i];
        if (before == EMPTY) {
            plcp[i] = 0;
            h = 0;
            continue;
        }
        const std::size_t limit = n - std::max<std::size_t>(i, before);
        while (h < limit && s[i + h] == s[before + h])
            ++h;
        plcp[i] = static_cast<Index>(h);
        if (h > 0) --h;
    }
    for (std::size_t i = 0; i < n; ++i)
        sa[i] = plcp[sa[i]];
}

} // namespace talvora::tools::sp800_90b

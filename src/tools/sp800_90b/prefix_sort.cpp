// src/tools/sp800_90b/prefix_sort.cpp: suffixes sorted by packed keys.
//
// A key is the next 64 / width symbols of a suffix, packed most significant
// first, so keys compare as the symbols do; past the sequence's end a key
// holds zeros and its suffix's length breaks the tie (a shorter suffix
// sorts first, as a proper prefix does). Suffixes with equal full keys are
// sorted again on their next key, and so on. The work for those ties grows
// with the lengths of repeats; past a budget the caller falls back to the
// suffix array.
#include "tools/sp800_90b/prefix_sort.h"

#include "tools/sp800_90b/prefix_dictionary.h"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace talvora::tools::sp800_90b {

namespace {

// The first radix digit over all suffixes; then digits sized to each group.
constexpr unsigned TOP_BITS = 10;
constexpr unsigned DIGIT_BITS = 16;
// Groups up to this size are sorted by comparison, larger ones by radix;
// the smallest by insertion.
constexpr std::size_t SMALL_GROUP = 64;
constexpr std::size_t INSERTION_GROUP = 24;
// Ties followed this many keys deep mean long repeats.
constexpr std::uint32_t MAX_DEPTH = 256;

class PackedSymbols {
  public:
    PackedSymbols(Symbols s, unsigned width)
        : n_(s.size()), width_(width), per_key_(64 / width),
          mask_(per_key_ * width == 64 ? ~std::uint64_t{0}
                                       : ~((std::uint64_t{1} << (64 - per_key_ * width)) - 1)),
          words_((s.size() * width + 63) / 64 + 2, 0) {
        std::uint64_t acc = 0;
        unsigned filled = 0;
        std::size_t w = 0;
        for (const std::uint8_t c : s) {
            if (filled + width < 64) {
                acc = (acc << width) | c;
                filled += width;
                continue;
            }
            // The symbol completes the word; its low bits start the next.
            const unsigned fits = 64 - filled, rest = width - fits;
            words_[w++] = (acc << fits) | (std::uint64_t{c} >> rest);
            acc = c & ((1u << rest) - 1);
            filled = rest;
        }
        if (filled > 0) words_[w] = acc << (64 - filled);
    }

    std::size_t size() const { return n_; }
    unsigned width() const { return width_; }
    std::uint32_t per_key() const { return per_key_; }

    // The per_key symbols from position p on (p <= size()).
    std::uint64_t key(std::size_t p) const {
        const std::size_t bit = p * width_;
        const std::size_t w = bit / 64;
        const unsigned r = bit % 64;
        std::uint64_t x = words_[w] << r;
        if (r != 0) x |= words_[w + 1] >> (64 - r);
        return x & mask_;
    }
    // How many of them are in the sequence.
    std::uint32_t length(std::size_t p) const {
        return static_cast<std::uint32_t>(std::min<std::size_t>(per_key_, n_ - p));
    }

  private:
    std::size_t n_;
    unsigned width_;
    std::uint32_t per_key_;
    std::uint64_t mask_;
    std::vector<std::uint64_t> words_;
};

class PrefixSorter {
  public:
    PrefixSorter(Symbols s, unsigned k, const LcpSink& sink)
        : packed_(s, key_width(k)), sink_(sink), budget_(2 * s.size() + 4096) {
        batch_.reserve(BATCH);
    }

    bool run() {
        const std::size_t n = packed_.size();
        if (n == 0) return true;
        // The first bits by counting, straight from the sequence, into few
        // enough buckets that the scattered writes stay in cache; each
        // bucket is then sorted and walked on its own.
        const std::size_t buckets = std::size_t{1} << TOP_BITS;
        const auto top = [&](std::size_t p) { return packed_.key(p) >> (64 - TOP_BITS); };
        std::vector<std::uint32_t> ends(buckets, 0);
        for (std::size_t p = 0; p < n; ++p)
            ++ends[top(p)];
        for (std::size_t b = 1; b < buckets; ++b)
            ends[b] += ends[b - 1];
        std::vector<std::uint32_t> positions(n);
        for (std::size_t p = n; p-- > 0;)
            positions[--ends[top(p)]] = static_cast<std::uint32_t>(p);
        // ends[b] is now the start of bucket b.
        Walk top_walk;
        for (std::size_t b = 0; b < buckets; ++b) {
            const std::size_t begin = ends[b], end = b + 1 < buckets ? ends[b + 1] : n;
            const std::span<std::uint32_t> bucket(positions.data() + begin, end - begin);
            order(bucket, 0, TOP_BITS);
            if (!walk(bucket, 0, top_walk)) return false;
        }
        flush();
        return true;
    }

  private:
    static constexpr std::size_t BATCH = 4096;

    struct Entry {
        std::uint64_t key;
        std::uint32_t length;
        std::uint32_t position;
        bool operator<(const Entry& other) const {
            return key != other.key ? key < other.key : length < other.length;
        }
    };

    std::uint64_t key_at(std::uint32_t p, std::uint32_t depth) const {
        return packed_.key(p + std::size_t{depth} * packed_.per_key());
    }
    std::uint32_t length_at(std::uint32_t p, std::uint32_t depth) const {
        return packed_.length(p + std::size_t{depth} * packed_.per_key());
    }

    // Sorts positions by (key, length) at depth, given equal keys in their
    // first `consumed` bits.
    void order(std::span<std::uint32_t> positions, std::uint32_t depth, unsigned consumed) {
        if (positions.size() <= SMALL_GROUP) {
            scratch_.clear();
            for (const std::uint32_t p : positions)
                scratch_.push_back({key_at(p, depth), length_at(p, depth), p});
            if (scratch_.size() <= INSERTION_GROUP)
                insertion_sort(scratch_);
            else
                std::sort(scratch_.begin(), scratch_.end());
            for (std::size_t i = 0; i < positions.size(); ++i)
                positions[i] = scratch_[i].position;
            return;
        }
        // Radix on the next digit; with every bit equal, on the length.
        const bool by_length = consumed == 64;
        const unsigned digit_bits =
            std::min({DIGIT_BITS, 64 - consumed,
                      static_cast<unsigned>(std::bit_width(positions.size())) - 3});
        const auto bucket = [&](std::uint32_t p) -> std::size_t {
            if (by_length) return length_at(p, depth);
            return (key_at(p, depth) << consumed) >> (64 - digit_bits);
        };
        const std::size_t buckets =
            by_length ? packed_.per_key() + 1 : std::size_t{1} << digit_bits;
        std::vector<std::uint32_t> starts(buckets + 1, 0);
        for (const std::uint32_t p : positions)
            ++starts[bucket(p) + 1];
        for (std::size_t b = 0; b < buckets; ++b)
            starts[b + 1] += starts[b];
        std::vector<std::uint32_t> sorted(positions.size());
        std::vector<std::uint32_t> next(starts.begin(), starts.end() - 1);
        for (const std::uint32_t p : positions)
            sorted[next[bucket(p)]++] = p;
        std::copy(sorted.begin(), sorted.end(), positions.begin());
        if (by_length) return;
        sorted = {};
        for (std::size_t b = 0; b < buckets; ++b)
            if (starts[b + 1] - starts[b] > 1)
                order(positions.subspan(starts[b], starts[b + 1] - starts[b]), depth,
                      consumed + digit_bits);
    }

    static void insertion_sort(std::vector<Entry>& entries) {
        for (std::size_t i = 1; i < entries.size(); ++i) {
            const Entry entry = entries[i];
            std::size_t j = i;
            for (; j > 0 && entry < entries[j - 1]; --j)
                entries[j] = entries[j - 1];
            entries[j] = entry;
        }
    }

    // Where a walk at one depth stands: the last key and length seen, or
    // the LCP to give the next suffix if none was seen yet.
    struct Walk {
        bool started = false;
        std::uint64_t first_lcp = 0;
        std::uint64_t key = 0;
        std::uint32_t length = 0;
    };

    // Emits the LCP values of positions, sorted at depth, continuing walk.
    bool walk(std::span<std::uint32_t> positions, std::uint32_t depth, Walk& state) {
        const std::uint32_t per_key = packed_.per_key();
        const std::uint64_t shared = std::uint64_t{depth} * per_key;
        for (std::size_t i = 0; i < positions.size();) {
            const std::uint64_t key = key_at(positions[i], depth);
            const std::uint32_t length = length_at(positions[i], depth);
            const std::uint64_t lcp =
                !state.started
                    ? state.first_lcp
                    : shared + std::min({static_cast<std::uint32_t>(
                                             std::countl_zero(state.key ^ key) / packed_.width()),
                                         state.length, length});
            std::size_t j = i + 1;
            if (length == per_key)
                while (j < positions.size() && key_at(positions[j], depth) == key &&
                       length_at(positions[j], depth) == per_key)
                    ++j;
            if (j - i > 1) {
                refined_ += j - i;
                if (refined_ > budget_ || depth + 1 > MAX_DEPTH) return false;
                const std::span<std::uint32_t> tied = positions.subspan(i, j - i);
                order(tied, depth + 1, 0);
                Walk deeper{.started = false, .first_lcp = lcp, .key = 0, .length = 0};
                if (!walk(tied, depth + 1, deeper)) return false;
            } else {
                emit(lcp);
            }
            state = {.started = true, .first_lcp = 0, .key = key, .length = length};
            i = j;
        }
        return true;
    }

    void emit(std::uint64_t lcp) {
        batch_.push_back(lcp);
        if (batch_.size() == BATCH) flush();
    }
    void flush() {
        sink_(batch_);
        batch_.clear();
    }

    PackedSymbols packed_;
    const LcpSink& sink_;
    std::uint64_t budget_;
    std::uint64_t refined_ = 0;
    std::vector<Entry> scratch_;
    std::vector<std::uint64_t> batch_;
};

} // namespace

std::uint64_t prefix_sort_max_lcp(unsigned k) {
    return std::uint64_t{MAX_DEPTH + 1} * (64 / key_width(k));
}

bool stream_lcp_by_prefix_sort(Symbols s, unsigned k, const LcpSink& sink) {
    return PrefixSorter(s, k, sink).run();
}

} // namespace talvora::tools::sp800_90b

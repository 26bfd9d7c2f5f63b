#include "engine/sparse/normal_assembly.h"

#include <algorithm>

namespace torvek {

void NormalAssembly::start(int n, int trailing) {
    trailing = std::clamp(trailing, 0, n);
    lastCount_ = -1;
    hintCursor_ = 0;
    hintMissed_ = false;
    if (n != n_ || trailing != trailing_) {
        release();
        n_ = n;
        trailing_ = trailing;
        firstDense_ = trailing <= kMaxDenseColumns ? n - trailing : n;
        patternGrown_ = true;
        hints_ = Hints::kRecord;
        lists_.resize(static_cast<std::size_t>(firstDense_));
        const std::size_t dense = static_cast<std::size_t>(n - firstDense_) * n;
        dense_.assign(dense, 0.0);
        touched_.assign(dense, 0);
        wasTouched_.assign(dense, 0);
        return;
    }
    patternGrown_ = false;
    // finish() leaves the places of the first rows, or nothing when they could not be kept.
    hints_ = hintList_.empty() ? Hints::kRecord : Hints::kReuse;
    for (std::vector<Entry>& column : lists_)
        for (Entry& e : column)
            e.value = 0, e.touched = 0;
    std::fill(dense_.begin(), dense_.end(), 0.0);
    wasTouched_.swap(touched_);
    std::fill(touched_.begin(), touched_.end(), 0);
}

void NormalAssembly::addEquation(const int* unknown, const double* coefficient, int count,
                                 double weight) {
    if (count < 0 || count > kMaxTerms)
        return;  // no equation has such terms
    int sparse = 0;
    while (sparse < count && unknown[sparse] < firstDense_)
        ++sparse;
    // An equation that names the unknowns of the one before adds into the same places: nothing
    // was inserted since they were found.
    if (!namesLastUnknowns(unknown, count)) {
        lastCount_ = -1;
        placeEquation(unknown, sparse);
        lastCount_ = count;
        std::copy(unknown, unknown + count, lastUnknown_);
    }
    int at = 0;
    for (int c = 0; c < count; ++c) {
        const double weighted = coefficient[c] * weight;
        if (c < sparse) {
            Entry* list = lists_[unknown[c]].data();
            for (int r = 0; r <= c; ++r) {
                Entry& e = list[lastAt_[at++]];
                e.value += coefficient[r] * weighted;
                e.touched = 1;
            }
            continue;
        }
        const std::size_t base = static_cast<std::size_t>(unknown[c] - firstDense_) * n_;
        for (int r = 0; r <= c; ++r) {
            dense_[base + unknown[r]] += coefficient[r] * weighted;
            touched_[base + unknown[r]] = 1;
        }
    }
}

// True when the equation names the unknowns of the last one placed. A loop over at most
// kMaxTerms numbers: a library comparison of the few bytes took a twentieth of the assembly.
bool NormalAssembly::namesLastUnknowns(const int* unknown, int count) const {
    if (count != lastCount_)
        return false;
    for (int k = 0; k < count; ++k)
        if (unknown[k] != lastUnknown_[k])
            return false;
    return true;
}

// Finds the list index of every product of the equation's `sparse` list columns (inserting the
// rows a column lacks) into lastAt_. Within a column the rows come ascending, so each is sought
// after the one before; a run of consecutive unknowns up to the column's own is the end of its
// list, and the row after a found one is most often the next unknown (a site's three). Only the
// first row of a site's first column past the run of the equation's first unknowns has no such
// guess: it is where the assembly before found it. Inserting a row moves only the rows after it,
// none of them placed yet.
void NormalAssembly::placeEquation(const int* unknown, int sparse) {
    int at = 0;
    for (int c = 0; c < sparse; ++c) {
        std::vector<Entry>& list = lists_[unknown[c]];
        std::int32_t from = 0;
        // A site's next unknown shares its equations, so its column holds the same rows below
        // the site's own: the first row is where it was in the column before.
        const bool besidePrevious = c > 0 && unknown[c] == unknown[c - 1] + 1;
        for (int r = 0; r <= c; ++r) {
            std::int32_t guess = from;
            const bool endsList = unknown[c] - unknown[r] == c - r;
            const bool hinted = r == 0 && !endsList && !besidePrevious;
            if (endsList) {
                guess = static_cast<std::int32_t>(list.size()) - 1 - (c - r);
            } else if (r == 0) {
                guess = besidePrevious ? lastAt_[(c - 1) * c / 2]
                                       : firstRowHint(unknown[c], unknown[0]);
            }
            const bool held = guess >= from && guess < static_cast<std::int32_t>(list.size()) &&
                              list[guess].row == unknown[r];
            const std::int32_t found = held ? guess : place(list, from, unknown[r]);
            if (hinted && guess != found && hints_ == Hints::kReuse)
                hintMissed_ = true;
            lastAt_[at++] = found;
            from = found + 1;
        }
    }
}

// The list index where the first row of a column that does not end with it was found in the
// assembly before, or -1 (noting the pair, to be made an index in finish(), when recording).
std::int32_t NormalAssembly::firstRowHint(int column, int row) {
    if (hints_ == Hints::kRecord) {
        hintList_.push_back(column);
        hintList_.push_back(row);
        return -1;
    }
    return hintCursor_ < hintList_.size() ? hintList_[hintCursor_++] : -1;
}

// The index of `row` in `list`, searched from `from` on (every row before `from` is smaller) and
// inserted when missing.
std::int32_t NormalAssembly::place(std::vector<Entry>& list, std::int32_t from, int row) {
    auto it = std::lower_bound(list.begin() + from, list.end(), row,
                               [](const Entry& e, int r) { return e.row < r; });
    if (it == list.end() || it->row != row) {
        it = list.insert(it, Entry{row, 0, 0.0});
        patternGrown_ = true;
    }
    return static_cast<std::int32_t>(it - list.begin());
}

// After the lists lost their untouched rows: recorded pairs become list indices (each row was
// added into, so it is there); places taken from the assembly before are kept only when every
// one held its row and the pattern stayed, else the next assembly records them anew.
void NormalAssembly::keepHints(bool patternChanged) {
    if (hints_ == Hints::kRecord) {
        const std::size_t count = hintList_.size() / 2;
        for (std::size_t k = 0; k < count; ++k) {
            const std::vector<Entry>& list = lists_[hintList_[2 * k]];
            const auto it = std::lower_bound(list.begin(), list.end(), hintList_[2 * k + 1],
                                             [](const Entry& e, int r) { return e.row < r; });
            hintList_[k] = static_cast<std::int32_t>(it - list.begin());
        }
        hintList_.resize(count);
        hintList_.shrink_to_fit();
        return;
    }
    if (patternChanged || hintMissed_ || hintCursor_ != hintList_.size())
        std::vector<std::int32_t>().swap(hintList_);
}

bool NormalAssembly::finish(Columns& out) {
    lastCount_ = -1;
    bool changed = patternGrown_;
    std::size_t count = 0;
    for (std::vector<Entry>& column : lists_) {
        const auto kept = std::remove_if(column.begin(), column.end(),
                                         [](const Entry& e) { return e.touched == 0; });
        changed = changed || kept != column.end();
        column.erase(kept, column.end());
        count += column.size();
    }
    for (std::size_t k = 0; k < touched_.size(); ++k) {
        count += touched_[k];
        changed = changed || touched_[k] != wasTouched_[k];
    }
    keepHints(changed);
    out.start.assign(static_cast<std::size_t>(n_) + 1, 0);
    out.rows.resize(count);
    out.values.resize(count);
    std::size_t at = 0;
    for (int c = 0; c < n_; ++c) {
        out.start[c] = static_cast<std::int64_t>(at);
        if (c < firstDense_) {
            for (const Entry& e : lists_[c]) {
                out.rows[at] = e.row;
                out.values[at++] = e.value;
            }
            continue;
        }
        const std::size_t base = static_cast<std::size_t>(c - firstDense_) * n_;
        for (int r = 0; r <= c; ++r) {
            if (touched_[base + r]) {
                out.rows[at] = r;
                out.values[at++] = dense_[base + r];
            }
        }
    }
    out.start[n_] = static_cast<std::int64_t>(at);
    return changed;
}

void NormalAssembly::release() {
    n_ = -1;
    lastCount_ = -1;
    std::vector<std::vector<Entry>>().swap(lists_);
    std::vector<double>().swap(dense_);
    std::vector<std::uint8_t>().swap(touched_);
    std::vector<std::uint8_t>().swap(wasTouched_);
    std::vector<std::int32_t>().swap(hintList_);
}

}  // namespace torvek

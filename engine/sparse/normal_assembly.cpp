#include "engine/sparse/normal_assembly.h"

#include <algorithm>

namespace torvek {

void NormalAssembly::start(int n, int trailing) {
    trailing = std::clamp(trailing, 0, n);
    lastCount_ = -1;
    hintCursor_ = 0;
    touchedEntries_ = 0;
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
    hints_ = Hints::kReuse;  // the places finish() left
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
                touchedEntries_ += 1 - e.touched;
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
            if (endsList) {
                guess = static_cast<std::int32_t>(list.size()) - 1 - (c - r);
            } else if (r == 0) {
                guess = besidePrevious ? lastAt_[(c - 1) * c / 2]
                                       : firstRowHint(unknown[c], unknown[0]);
            }
            const bool held = guess >= from && guess < static_cast<std::int32_t>(list.size()) &&
                              list[guess].row == unknown[r];
            const std::int32_t found = held ? guess : place(list, from, unknown[r]);
            lastAt_[at++] = found;
            from = found + 1;
        }
    }
}

// The list index where the first row of a column that does not end with it was found in the
// assembly before, when the list still holds the row there; else -1, and from here on the
// assembly records the pairs of column and row, to be made list indices in finish().
std::int32_t NormalAssembly::firstRowHint(int column, int row) {
    if (hints_ == Hints::kReuse) {
        const std::size_t k = 2 * hintCursor_;
        if (k < hintList_.size() && hintList_[k] == column) {
            const std::vector<Entry>& list = lists_[column];
            const std::int32_t at = hintList_[k + 1];
            if (at < static_cast<std::int32_t>(list.size()) && list[at].row == row) {
                ++hintCursor_;
                return at;
            }
        }
        recordFromHere();
    }
    hintList_.push_back(column);
    hintList_.push_back(row);
    return -1;
}

// Leaves the places of the assembly before: those taken so far become pairs of column and row
// (they still hold their rows: nothing was inserted since they were checked), the rest are
// dropped, and the assembly records from here on.
void NormalAssembly::recordFromHere() {
    if (hints_ != Hints::kReuse)
        return;
    for (std::size_t k = 0; k < hintCursor_; ++k)
        hintList_[2 * k + 1] = lists_[hintList_[2 * k]][hintList_[2 * k + 1]].row;
    hintList_.resize(2 * hintCursor_);
    hints_ = Hints::kRecord;
}

// The index of `row` in `list`, searched from `from` on (every row before `from` is smaller) and
// inserted when missing.
std::int32_t NormalAssembly::place(std::vector<Entry>& list, std::int32_t from, int row) {
    auto it = std::lower_bound(list.begin() + from, list.end(), row,
                               [](const Entry& e, int r) { return e.row < r; });
    if (it == list.end() || it->row != row) {
        const auto index = it - list.begin();
        recordFromHere();  // the insertion moves rows the kept places name
        it = list.insert(list.begin() + index, Entry{row, 0, 0.0});
        ++entries_;
        patternGrown_ = true;
    }
    return static_cast<std::int32_t>(it - list.begin());
}

// After the lists lost their untouched rows, recorded pairs of column and row get the row's list
// index in place of the row (each row was added into, so it is there).
void NormalAssembly::keepHints() {
    if (hints_ == Hints::kReuse)
        return;
    for (std::size_t k = 0; k + 1 < hintList_.size(); k += 2) {
        const std::vector<Entry>& list = lists_[hintList_[k]];
        const auto it = std::lower_bound(list.begin(), list.end(), hintList_[k + 1],
                                         [](const Entry& e, int r) { return e.row < r; });
        hintList_[k + 1] = static_cast<std::int32_t>(it - list.begin());
    }
}

bool NormalAssembly::finish(Columns& out) {
    lastCount_ = -1;
    // Rows that were not added into are dropped below, which moves the rows after them; so do
    // the places of an assembly with fewer equations than the one before, left unread.
    if (touchedEntries_ != entries_ || 2 * hintCursor_ != hintList_.size())
        recordFromHere();
    bool changed = patternGrown_;
    std::size_t count = 0;
    for (std::vector<Entry>& column : lists_) {
        const auto kept = std::remove_if(column.begin(), column.end(),
                                         [](const Entry& e) { return e.touched == 0; });
        changed = changed || kept != column.end();
        column.erase(kept, column.end());
        count += column.size();
    }
    entries_ = count;
    for (std::size_t k = 0; k < touched_.size(); ++k) {
        count += touched_[k];
        changed = changed || touched_[k] != wasTouched_[k];
    }
    keepHints();
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
    entries_ = 0;
    std::vector<std::vector<Entry>>().swap(lists_);
    std::vector<double>().swap(dense_);
    std::vector<std::uint8_t>().swap(touched_);
    std::vector<std::uint8_t>().swap(wasTouched_);
    std::deque<std::int32_t>().swap(hintList_);
}

}  // namespace torvek

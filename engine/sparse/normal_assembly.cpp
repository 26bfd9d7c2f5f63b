#include "engine/sparse/normal_assembly.h"

#include <algorithm>

namespace torvek {

void NormalAssembly::start(int n, int trailing) {
    trailing = std::clamp(trailing, 0, n);
    if (n != n_ || trailing != trailing_) {
        release();
        n_ = n;
        trailing_ = trailing;
        firstDense_ = trailing <= kMaxDenseColumns ? n - trailing : n;
        patternGrown_ = true;
        lists_.resize(static_cast<std::size_t>(firstDense_));
        const std::size_t dense = static_cast<std::size_t>(n - firstDense_) * n;
        dense_.assign(dense, 0.0);
        touched_.assign(dense, 0);
        wasTouched_.assign(dense, 0);
        return;
    }
    patternGrown_ = false;
    for (std::vector<Entry>& column : lists_)
        for (Entry& e : column)
            e.value = 0, e.touched = 0;
    std::fill(dense_.begin(), dense_.end(), 0.0);
    wasTouched_.swap(touched_);
    std::fill(touched_.begin(), touched_.end(), 0);
}

void NormalAssembly::add(int row, int column, double value) {
    if (column >= firstDense_) {
        const std::size_t at = static_cast<std::size_t>(column - firstDense_) * n_ + row;
        dense_[at] += value;
        touched_[at] = 1;
        return;
    }
    std::vector<Entry>& list = lists_[column];
    auto it = std::lower_bound(list.begin(), list.end(), row,
                               [](const Entry& e, int r) { return e.row < r; });
    if (it == list.end() || it->row != row) {
        it = list.insert(it, Entry{row, 0, 0.0});
        patternGrown_ = true;
    }
    it->value += value;
    it->touched = 1;
}

bool NormalAssembly::finish(Columns& out) {
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
    std::vector<std::vector<Entry>>().swap(lists_);
    std::vector<double>().swap(dense_);
    std::vector<std::uint8_t>().swap(touched_);
    std::vector<std::uint8_t>().swap(wasTouched_);
}

}  // namespace torvek

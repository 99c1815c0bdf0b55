#include "history.h"

#include <cstring>

namespace {

bool BlankChar(uint8_t ch) { return ch == 0x00 || ch == 0x20 || ch == 0xFF; }

// A cell as it looks: a blank shows its background only, whatever its foreground colour (a
// target that sends only the cells that change leaves blanks in colours it never set).
uint16_t Look(TCell cell) {
    if (BlankChar(cell.ch)) return static_cast<uint16_t>(0x20 | ((cell.attr & 0xF0) << 8));
    return static_cast<uint16_t>(cell.ch | (cell.attr << 8));
}

// Two rows that look the same; most unequal rows differ in their first cells.
bool SameLook(const TCell* a, const TCell* b) {
    if (std::memcmp(a, b, sizeof(TCell) * kScreenColumns) == 0) return true;
    for (int c = 0; c < kScreenColumns; ++c)
        if (Look(a[c]) != Look(b[c])) return false;
    return true;
}

bool BlankRow(const TCell* row) {
    for (int c = 0; c < kScreenColumns; ++c)
        if (!BlankChar(row[c].ch)) return false;
    return true;
}

} // namespace

THistory::THistory() {
    TRows blank;
    blank.fill(TCell{0x20, kAttrWhiteOnBlack});
    SetReference(blank.data());
}

void THistory::Push(const TCell* row) {
    const size_t width = kScreenColumns;
    TCell* slot;
    if (size_ < kHistoryRows) {
        // Reserved whole at once, so that the ring never moves; pages are touched as rows come.
        if (ring_.capacity() == 0) ring_.reserve(size_t(kHistoryRows) * width);
        ring_.insert(ring_.end(), row, row + width);
        slot = &ring_[ring_.size() - width];
        ++size_;
    } else {
        slot = &ring_[static_cast<size_t>(head_) * width];
        std::memcpy(slot, row, sizeof(TCell) * width);
        head_ = (head_ + 1) % kHistoryRows;
    }
    ++entered_;
    if (hook_) hook_(slot);
}

const TCell* THistory::Row(int i) const {
    const int slot = size_ < kHistoryRows ? i : (head_ + i) % kHistoryRows;
    return &ring_[static_cast<size_t>(slot) * kScreenColumns];
}

void THistory::SetReference(const TCell* cells) {
    std::memcpy(ref_.data(), cells, sizeof ref_);
}

// Row p of the screen against row q of the reference.
bool THistory::RowEqual(const TCell* cur, int p, int q) const {
    return SameLook(cur + p * kScreenColumns, &ref_[q * kScreenColumns]);
}

// The run of shift k from row a, with its evidence and unexplained rows; evidence -1 when there
// is none. Rows marked in `taken` belong to another run: they are neither changed nor explained.
THistory::TRun THistory::RunAt(const TCell* cur, const bool* changed,
                               int changed_total, int a, int k) const {
    TRun run{a, k, a};
    if (!changed[a]) return run;
    while (run.m + k < kScreenRows && RowEqual(cur, run.m, run.m + k)) ++run.m;
    if (run.m + k < kScreenRows && changed[run.m]) {
        const TCell* row = cur + run.m * kScreenColumns;
        const TCell* old = &ref_[run.m * kScreenColumns];
        const TCell* below = &ref_[(run.m + k) * kScreenColumns];
        run.mixed = true;
        for (int c = 0; c < kScreenColumns && run.mixed; ++c)
            run.mixed = Look(row[c]) == Look(old[c]) || Look(row[c]) == Look(below[c]);
    }
    if (run.m == a && !run.mixed) return run;
    int explained = run.mixed ? 1 : 0;
    run.evidence = 0;
    for (int p = a; p < run.m; ++p) {
        explained += changed[p];
        run.evidence += changed[p] && !BlankRow(cur + p * kScreenColumns);
    }
    run.unexplained = changed_total - explained;
    return run;
}

void THistory::Check(const TScreen& screen) {
    const TCell* cur = screen.Cells().data();
    bool changed[kScreenRows];
    int changed_total = 0;
    for (int p = 0; p < kScreenRows; ++p) {
        changed[p] = !RowEqual(cur, p, p);
        changed_total += changed[p];
    }
    if (changed_total == 0) return;
    // The rest of a redraw that already moved rows is no new run. The last two runs are
    // followed: a new redraw can begin at the top while the last one's tail still comes.
    bool continued = false;
    for (int i = 0; i < 2; ++i) {
        TContinuation& c = cont_[i];
        if (c.m < 0 || c.m + c.k >= kScreenRows) continue;
        const TRun run = RunAt(cur, changed, changed_total, c.m, c.k);
        if (run.evidence < 0) continue;
        continued = true;
        for (int p = run.a; p < run.m + (run.mixed ? 1 : 0); ++p) {
            changed_total -= changed[p];
            changed[p] = false;
        }
        c.m = run.m;
        if (i == 0 && !pending_.empty()) {
            pending_evidence_ += run.evidence;
            if (pending_evidence_ >= 2) {
                for (size_t r = 0; r < pending_.size(); r += kScreenColumns) Push(&pending_[r]);
                pending_.clear();
            }
        }
    }
    TRun best;
    for (int a = 0; a < kScreenRows - 1; ++a) {
        for (int k = 1; a + k < kScreenRows; ++k) {
            const TRun run = RunAt(cur, changed, changed_total, a, k);
            if (run.evidence < 0 || run.unexplained > k + kOtherChanges) continue;
            if (run.evidence > best.evidence ||
                (run.evidence == best.evidence && run.unexplained < best.unexplained))
                best = run; // k rises in the inner loop: a tie keeps the smaller shift
        }
    }
    if (best.evidence >= 0 && (best.evidence >= 2 || !continued || best.a < cont_[0].m)) {
        const TCell* left = &ref_[best.a * kScreenColumns];
        pending_.clear();
        if (best.evidence >= 2) {
            for (int i = 0; i < best.k; ++i) Push(left + i * kScreenColumns);
        } else {
            // Too little to be sure yet: keep the rows it overwrote until its next piece.
            pending_.assign(left, left + best.k * kScreenColumns);
            pending_evidence_ = best.evidence;
        }
        cont_[1] = cont_[0];
        cont_[0] = TContinuation{best.k, best.m};
    }
    SetReference(cur);
}

void THistory::BeforeScrollDown(const TScreen& screen) {
    Check(screen);
    const TCell* cur = screen.Cells().data();
    Push(cur);
    // The reference becomes the screen as ScrollDown leaves it: every row one up, the bottom
    // row blank in the attributes it had.
    TRows next;
    std::memcpy(next.data(), cur + kScreenColumns, sizeof(TCell) * kScreenColumns * (kScreenRows - 1));
    for (int c = 0; c < kScreenColumns; ++c) {
        const TCell last = cur[(kScreenRows - 1) * kScreenColumns + c];
        next[(kScreenRows - 1) * kScreenColumns + c] = TCell{0x20, last.attr};
    }
    SetReference(next.data());
    cont_ = {};
    pending_.clear();
}

void THistory::BeforeClearScreen(const TScreen& screen) {
    Check(screen);
    const TCell* cur = screen.Cells().data();
    int first = kScreenRows, last = -1;
    for (int p = 0; p < kScreenRows; ++p) {
        if (BlankRow(cur + p * kScreenColumns)) continue;
        if (first == kScreenRows) first = p;
        last = p;
    }
    for (int p = first; p <= last; ++p) Push(cur + p * kScreenColumns);
    TRows blank;
    blank.fill(TCell{0x20, kAttrWhiteOnBlack});
    SetReference(blank.data());
    cont_ = {};
    pending_.clear();
}

// The history: rows that have left the target's screen, kept with their attributes so that the
// user can scroll back to them, select and copy them, and log them.
//
// One instance, owned by the main window with the screen; window thread only. A row enters in
// O(80): its 80 cells are copied into a ring of kHistoryRows rows, and when the ring is full the
// oldest row is dropped. Memory grows with use, up to 10,000 x 80 cells (1.6 MB).
//
// How a row leaves the screen. The target never has the console scroll for it: it places its
// text with cursor sequences, so its scrolling is a redraw. Three cases:
//  1. the console's own lines scroll the screen (StrOut, TelePutch): TScreen calls
//     BeforeScrollDown and the top row enters;
//  2. the screen is cleared (ESC [ 2 J): TScreen calls BeforeClearScreen and the rows from the
//     first to the last non-blank one enter (blank rows between them keep the layout);
//  3. the target redraws its text some rows higher: Check compares the screen as it is with the
//     reference (the screen at the last Check) and finds the rows that moved up. It runs at
//     every refresh, and whenever the target places the cursor on a row above the cursor's
//     (BeforeCursorUp): a target draws top to bottom, so that is where a new pass begins, and a
//     burst that scrolls a box many times before the next refresh is seen pass by pass.
//
// The rules of case 3 (rows compared as whole rows of 80 cells as they look: characters and
// attributes, except that a blank cell (00, 20, FF) shows only its background colour):
//  - a row is "changed" when it differs from the reference's row at the same place, and
//    "blank" when all its characters are 00, 20 or FF;
//  - a "run" of shift k from row a: rows a, a+1, ... m-1 of the screen equal the reference's
//    rows a+k, a+k+1, ..., m-1+k, and row a is changed. It may be followed by one "mixed" row m:
//    a row caught half redrawn, every cell of which equals the reference's cell in row m or in
//    row m+k. The band that scrolls need not be the whole screen (a target that scrolls an
//    output box under a fixed status area is a band from the box's first row);
//  - the "evidence" of a run is the number of its changed non-blank rows; the "unexplained"
//    rows are the changed rows outside the run and its mixed row (new text at the band's
//    bottom, other parts of the screen the target updated in the same refresh);
//  - the best run has the most evidence, then the fewest unexplained rows, then the smallest k.
//    A run needs at most k + kOtherChanges unexplained rows to count;
//  - a run with 2 or more evidence rows: the reference's rows a .. a+k-1 have left and enter the
//    history, top first;
//  - a run with less evidence (0 or 1) is a redraw that may just have begun: the rows it
//    overwrote are kept aside, and enter when the next pieces of the same redraw bring the
//    evidence to 2; otherwise they are forgotten. While the rest of an earlier redraw still
//    comes in the same Check, such a run counts only when it starts above that rest (a new
//    pass from the top);
//  - either way the run's shift and end are remembered (the last two runs): a run of the same
//    shift starting at that end at a later Check is the rest of the same redraw arriving in
//    pieces; its rows are explained, and nothing enters again;
//  - after every Check with a change the screen becomes the reference.
// So a static screen never adds rows: unchanged rows are no evidence, blank rows are no
// evidence, and a row that repeats (a box's sides) is no evidence unless it changed into the
// row k below it, which takes two such rows in one run (or in the pieces of one redraw).
// The console's own scrolling and a clear make the screen after them the reference.
#pragma once

#include "screen.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

constexpr int kHistoryRows = 10000;

class THistory final : public TScreenObserver {
  public:
    // Called once for every row that enters the history, with its kScreenColumns cells, after
    // it has been stored (Row(Size() - 1) is the same row). The pointer is valid during the
    // call only. Runs on the window thread, inside the main cycle's bursts and refreshes: it
    // must not block (buffer and flush elsewhere).
    using TRowHook = std::function<void(const TCell* row)>;

    THistory();

    void SetRowHook(TRowHook hook) { hook_ = std::move(hook); }
    // Appends one row of kScreenColumns cells (dropping the oldest row when full).
    void Push(const TCell* row);

    int Size() const { return size_; }
    // Row i of the history, 0 the oldest, Size() - 1 the newest.
    const TCell* Row(int i) const;
    // Rows that ever entered, dropped ones included: the newest row's number is Entered() - 1.
    uint64_t Entered() const { return entered_; }

    // Case 3 above, with the screen as it is now. Cost: 25 row comparisons with the reference,
    // then, when rows changed, up to 25 x 25 x 25 row comparisons that mostly end at their first
    // cells; called at refreshes and new passes, not per byte.
    void Check(const TScreen& screen);

    // TScreenObserver: cases 1 and 2.
    void BeforeScrollDown(const TScreen& screen) override;
    void BeforeClearScreen(const TScreen& screen) override;
    void BeforeCursorUp(const TScreen& screen) override { Check(screen); }

    static constexpr int kOtherChanges = 4;

  private:
    using TRows = std::array<TCell, kScreenCells>;
    struct TRun {
        int a = 0, k = 0, m = 0;
        int evidence = -1, unexplained = 0;
        bool mixed = false;
    };
    void SetReference(const TCell* cells);
    TRun RunAt(const TCell* cur, const bool* changed, int changed_total, int a, int k) const;
    bool RowEqual(const TCell* cur, int p, int q) const;

    std::vector<TCell> ring_; // grows to kHistoryRows rows
    int head_ = 0;            // slot of the oldest row once the ring is full
    int size_ = 0;
    uint64_t entered_ = 0;
    TRowHook hook_;

    TRows ref_{};
    struct TContinuation {
        int k = 0, m = -1; // a run's shift and end, for the next pieces of its redraw
    };
    std::array<TContinuation, 2> cont_{}; // the newest first
    std::vector<TCell> pending_; // rows a weak run overwrote, kept until it is confirmed
    int pending_evidence_ = 0;
};

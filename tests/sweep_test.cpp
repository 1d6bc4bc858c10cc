// The order of work in a pass's sweep: which row may be claimed, how far
// rows may be finished, and, over random schedules of many threads, that
// following these rules never overwrites a slot a fusion still needs,
// never finishes a row whose pre-pass values a target's gather still reads,
// and never stalls.
#include "interp/sweep.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "interp/pass_area.h"

namespace {

TEST(SweepOrder, ClaimingWaitsForTheFusionOfTheSlotRowsLastUser) {
    const struct {
        int row, finished_through, store_rows;
        bool may;
    } rows[] = {
        {5, 4, 9, true},    // the first rows of a pass find the ring empty
        {11, 4, 9, true},   // 11 - 9 + 2 = 4
        {12, 4, 9, false},  // 12 - 9 + 2 = 5 is not finished yet
        {12, 5, 9, true},  {70, 7, 64, false}, {70, 8, 64, true},
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        EXPECT_EQ(may_claim(rows[i].row, rows[i].finished_through, rows[i].store_rows), rows[i].may)
            << "row " << i;
}

TEST(SweepOrder, RowsAreFinishedTheLagBehindOrAllAtTheEnd) {
    EXPECT_EQ(finishable_through(20, 33, 40), 20 - finish_lag);
    EXPECT_EQ(finishable_through(32, 33, 40), 32 - finish_lag);
    EXPECT_EQ(finishable_through(33, 33, 40), 39);
    EXPECT_EQ(finishable_through(4, 33, 40), 4 - finish_lag);  // nothing yet

    const char estimated[] = {0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1};
    EXPECT_EQ(advance_estimated(estimated, 4, 10), 6);
    EXPECT_EQ(advance_estimated(estimated, 7, 10), 10);
    EXPECT_EQ(advance_estimated(estimated, 7, 9), 9);
}

// A pass of target rows first_target_row .. h2 - 7 and rows to finish
// first_target_row .. h2 - 1, run by `threads` simulated threads that follow
// the sweep's rules (as interp/refine.cpp does) in a random interleaving.
// Each claimed row writes its slot row, each finished row reads the slots of
// the rows within fusion_reach and writes its grid row.  Returns false on a
// stall; the checks of what each step may touch are expectations.
bool simulate(int h2, int threads, int store_rows, std::mt19937_64& gen) {
    const int last = last_target_row(h2);
    enum State { idle, estimating, finishing_rows, gone };
    std::vector<State> state(static_cast<std::size_t>(threads), idle);
    std::vector<int> row_of(static_cast<std::size_t>(threads), 0);
    std::vector<char> estimated(static_cast<std::size_t>(h2), 0);
    // The row whose slots each slot row holds, -1 when none.
    std::vector<int> slot_holder(static_cast<std::size_t>(store_rows), -1);
    int next_row = first_target_row, estimated_through = first_target_row - 1;
    int finished_through = first_target_row - 1, really_finished = first_target_row - 1;
    int finish_to = 0;
    bool finishing = false;

    const auto is_target_row = [&](int r) { return r >= first_target_row && r <= last; };
    // After a thread's batch of rows (or its estimate): finish more, or stop.
    const auto look_for_rows_to_finish = [&](std::size_t t) {
        finished_through = really_finished;
        const int through = finishable_through(estimated_through, last, h2);
        if (finished_through < through) {
            state[t] = finishing_rows;
            finish_to = through;
        } else {
            finishing = false;
            state[t] = idle;
        }
    };

    for (;;) {
        std::vector<std::size_t> can_act;
        int running = 0;
        for (std::size_t t = 0; t < state.size(); ++t) {
            if (state[t] == gone) continue;
            ++running;
            const bool blocked = state[t] == idle && next_row <= last &&
                                 !may_claim(next_row, finished_through, store_rows);
            if (!blocked) can_act.push_back(t);
        }
        if (running == 0) break;
        if (can_act.empty()) return false;
        const std::size_t t = can_act[gen() % can_act.size()];

        switch (state[t]) {
            case idle: {
                if (next_row > last) {
                    state[t] = gone;
                    break;
                }
                const int r = next_row++;
                // Its slot row's previous holder must be read by no fusion
                // still to come.
                const int previous = slot_holder[static_cast<std::size_t>(r % store_rows)];
                if (previous >= 0) {
                    EXPECT_GE(really_finished, previous + fusion_reach) << "claiming row " << r;
                }
                slot_holder[static_cast<std::size_t>(r % store_rows)] = r;
                state[t] = estimating;
                row_of[t] = r;
                break;
            }
            case estimating: {
                estimated[static_cast<std::size_t>(row_of[t])] = 1;
                estimated_through = advance_estimated(estimated.data(), estimated_through, last);
                if (finishing) {
                    state[t] = idle;
                } else {
                    finishing = true;
                    look_for_rows_to_finish(t);
                }
                break;
            }
            case finishing_rows: {
                const int f = ++really_finished;
                // Every target whose gather reaches row f is estimated,
                // and every slot its fusion reads still holds the estimate
                // of its own row.
                for (int r = f - fusion_reach; r <= f + fusion_reach; ++r) {
                    if (!is_target_row(r)) continue;
                    EXPECT_TRUE(estimated[static_cast<std::size_t>(r)])
                        << "finishing row " << f << " before row " << r;
                }
                for (int r = f - fusion_reach; r <= f + fusion_reach; ++r) {
                    if (!is_target_row(r)) continue;
                    EXPECT_EQ(slot_holder[static_cast<std::size_t>(r % store_rows)], r)
                        << "finishing row " << f;
                }
                if (f == finish_to) look_for_rows_to_finish(t);
                break;
            }
            case gone:
                break;
        }
    }
    EXPECT_EQ(really_finished, h2 - 1);
    return true;
}

TEST(SweepOrder, RandomSchedulesAreSafeAndNeverStall) {
    std::mt19937_64 gen(7);
    for (int store_rows : {min_store_rows, min_store_rows + 1, 16, 64})
        for (int threads : {1, 2, 3, 7})
            for (int h2 : {12, 14, 18, 30, 64, 150})
                for (int schedule = 0; schedule < 20; ++schedule) {
                    SCOPED_TRACE(testing::Message()
                                 << store_rows << " slot rows, " << threads << " threads, " << h2
                                 << " rows, schedule " << schedule);
                    ASSERT_TRUE(simulate(h2, threads, store_rows, gen)) << "stalled";
                }
}

TEST(SweepOrder, ASmallerRingStalls) {
    std::mt19937_64 gen(11);
    EXPECT_FALSE(simulate(100, 1, min_store_rows - 1, gen));
}

}  // namespace

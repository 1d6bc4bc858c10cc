// The order of work down the image: the rules by table, and, over random
// schedules of many threads taking jobs as the real ones do, that no job
// touches memory another job in flight writes, that every cell a job reads
// holds the right stage's value, and that the pipeline never stalls.
#include "interp/stages.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "interp/pass_area.h"

namespace quillmorph {

namespace {

TEST(StageRules, ClaimingWaitsForTheFusionOfTheSlotRowsLastUser) {
    const struct {
        int row, finished_through, store_rows;
        bool may;
    } rows[] = {
        {5, -1, 9, true},   // the first rows of a pass find the ring empty
        {13, -1, 9, true},  // 13 - 9 = 4 held no target
        {14, 6, 9, false},  // 14 - 9 + 2 = 7 is not finished yet
        {14, 7, 9, true},  {70, 7, 64, false}, {70, 8, 64, true},
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i)
        EXPECT_EQ(may_claim(rows[i].row, rows[i].finished_through, rows[i].store_rows), rows[i].may)
            << "row " << i;
}

TEST(StageRules, RowsAreFinishedTheLagBehindOrAllAtTheEnd) {
    EXPECT_EQ(finishable_through(20, 33, 40), 20 - finish_lag);
    EXPECT_EQ(finishable_through(32, 33, 40), 32 - finish_lag);
    EXPECT_EQ(finishable_through(33, 33, 40), 39);
    EXPECT_EQ(finishable_through(4, 33, 40), 4 - finish_lag);  // nothing yet
}

TEST(StageRules, RingsAreClampedToWhatTheGridNeeds) {
    const struct {
        int h2, asked, grid_rows, store_rows;
    } sizes[] = {
        {6, 48, 6, 1},                                  // no target row at all
        {12, 48, 12, 1},                                // one target row
        {100, 48, 48, 48},                              // as asked
        {100, 1, min_grid_rows, min_store_rows},        // raised to the least
        {40, 48, 40, 29},                               // no more rows than there are
        {20000, 100000, max_ring_rows, max_ring_rows},  // bounded
    };
    for (std::size_t i = 0; i < sizeof sizes / sizeof sizes[0]; ++i) {
        EXPECT_EQ(grid_rows_for(sizes[i].h2, sizes[i].asked), sizes[i].grid_rows) << "row " << i;
        EXPECT_EQ(store_rows_for(sizes[i].h2, sizes[i].asked), sizes[i].store_rows) << "row " << i;
    }
}

// What memory a job reads and writes: a class of cells in a ring row, or a
// slot row of a pass's store.
enum CellClass { lr_cells, diagonal_cells, axial_cells };
struct Touch {
    int kind;  // 0 grid, 1 store
    int index;
    int what;  // the cell class, or the pass
    bool writes;
};

bool is_target_row(int r, int h2) { return r >= first_target_row && r <= last_target_row(h2); }

CellClass class_of(Pass pass) { return pass == diagonal_pass ? diagonal_cells : axial_cells; }

// Runs the pipeline of a grid h2 rows high on `threads` simulated threads,
// each taking its jobs with next_job and reporting them with
// complete_job, in a random interleaving, and checks each job as it starts.
// Returns false on a stall.
struct Simulation {
    int h2, grid_rows, store_rows;
    Progress progress;
    std::vector<char> flags;
    std::vector<int> occupant;  // the grid row each ring row holds
    std::vector<int> slot_holder[2];
    std::vector<char> upsampled, estimated[2], finished[2], written;
    std::vector<std::vector<Touch>> in_flight;

    // Rings of exactly the sizes given.
    Simulation(int h, int grid, int store)
        : h2(h),
          grid_rows(grid),
          store_rows(store),
          flags(2 * static_cast<std::size_t>(store_rows)),
          occupant(static_cast<std::size_t>(grid_rows), -1),
          upsampled(static_cast<std::size_t>(h)),
          written(static_cast<std::size_t>(h)) {
        char* const estimated_flags[2] = {flags.data(), flags.data() + store_rows};
        start_progress(&progress, h2, grid_rows, store_rows, estimated_flags);
        for (int pass = 0; pass < 2; ++pass) {
            slot_holder[pass].assign(static_cast<std::size_t>(store_rows), -1);
            estimated[pass].assign(static_cast<std::size_t>(h), 0);
            finished[pass].assign(static_cast<std::size_t>(h), 0);
        }
    }

    std::size_t at(int r) const { return static_cast<std::size_t>(r); }
    bool in_grid(int r) const { return r >= 0 && r < h2; }

    // The row r holds its ring row, and the stage before `stage` is done
    // with it: 0 upsampled, 1 finished by the diagonal pass, 2 by both.
    void expect_ready(int r, int stage, const char* job) const {
        EXPECT_EQ(occupant[at(r % grid_rows)], r) << job << ": row " << r << " not in the ring";
        const bool ready = stage == 0   ? upsampled[at(r)]
                           : stage == 1 ? finished[diagonal_pass][at(r)]
                                        : finished[axial_pass][at(r)];
        EXPECT_TRUE(ready) << job << ": row " << r << " not ready";
    }

    std::vector<Touch> start(const Job& job) {
        std::vector<Touch> touches;
        const auto grid = [&](int r, CellClass what, bool writes) {
            touches.push_back({0, r % grid_rows, what, writes});
        };
        const auto slot = [&](Pass pass, int r, bool writes) {
            touches.push_back({1, r % store_rows, pass, writes});
        };
        const int p = job.pass;
        switch (job.kind) {
            case job_upsample:
                for (int u = job.first; u <= job.last; ++u) {
                    const int previous = occupant[at(u % grid_rows)];
                    if (previous >= 0) {
                        EXPECT_TRUE(written[at(previous)]) << "upsampling " << u;
                    }
                    occupant[at(u % grid_rows)] = u;
                    for (CellClass c : {lr_cells, diagonal_cells, axial_cells}) grid(u, c, true);
                }
                break;
            case job_estimate: {
                const int r = job.first;
                for (int d = -window_radius; d <= window_radius; ++d) {
                    expect_ready(r + d, p, "estimating");
                    grid(r + d, lr_cells, false);
                    if (job.pass == axial_pass) grid(r + d, diagonal_cells, false);
                }
                // The gathers read the pass's own cells before the pass.
                for (int d = -fusion_reach; d <= fusion_reach; ++d) {
                    EXPECT_FALSE(finished[p][at(r + d)]) << "estimating " << r;
                    grid(r + d, class_of(job.pass), false);
                }
                const int previous = slot_holder[p][at(r % store_rows)];
                for (int f = previous - fusion_reach; previous >= 0 && f <= previous + fusion_reach;
                     ++f)
                    if (in_grid(f)) {
                        EXPECT_TRUE(finished[p][at(f)])
                            << "estimating " << r << " over " << previous;
                    }
                slot_holder[p][at(r % store_rows)] = r;
                slot(job.pass, r, true);
                break;
            }
            case job_finish:
                for (int f = job.first; f <= job.last; ++f) {
                    EXPECT_TRUE(f > job.first || f == 0 || finished[p][at(f - 1)])
                        << "finishing " << f;
                    expect_ready(f, p, "finishing");
                    for (int t = f - fusion_reach; t <= f + fusion_reach; ++t) {
                        if (!is_target_row(t, h2)) continue;
                        EXPECT_TRUE(estimated[p][at(t)]) << "finishing " << f << " before " << t;
                        EXPECT_EQ(slot_holder[p][at(t % store_rows)], t) << "finishing " << f;
                        slot(job.pass, t, false);
                    }
                    grid(f, class_of(job.pass), true);
                }
                break;
            case job_write:
                for (int f = job.first; f <= job.last; ++f) {
                    EXPECT_TRUE(f > job.first || f == 0 || written[at(f - 1)]) << "writing " << f;
                    expect_ready(f, 2, "writing");
                    for (CellClass c : {lr_cells, diagonal_cells, axial_cells}) grid(f, c, false);
                }
                break;
            case job_wait:
            case job_done:
                break;
        }
        for (const std::vector<Touch>& other : in_flight)
            for (const Touch& a : touches)
                for (const Touch& b : other)
                    if (a.kind == b.kind && a.index == b.index && a.what == b.what) {
                        EXPECT_FALSE(a.writes || b.writes)
                            << "job " << job.kind << " rows " << job.first << ".." << job.last
                            << " touches what another job in flight writes";
                    }
        return touches;
    }

    void end(const Job& job) {
        for (int r = job.first; r <= job.last; ++r) {
            if (job.kind == job_upsample) upsampled[at(r)] = 1;
            if (job.kind == job_estimate) estimated[job.pass][at(r)] = 1;
            if (job.kind == job_finish) finished[job.pass][at(r)] = 1;
            if (job.kind == job_write) written[at(r)] = 1;
        }
        complete_job(&progress, job);
    }

    bool run(int threads, std::mt19937_64& gen) {
        std::vector<Job> held(static_cast<std::size_t>(threads),
                              Job{job_wait, diagonal_pass, 0, -1});
        std::vector<std::size_t> slot_of_thread(static_cast<std::size_t>(threads), 0);
        std::vector<char> gone(static_cast<std::size_t>(threads), 0);
        for (;;) {
            // A thread may act when it holds a job (to complete it), or when
            // next_job would give it one; an idle thread's wait is not a step.
            std::vector<std::size_t> can_act;
            int running = 0;
            for (std::size_t t = 0; t < held.size(); ++t) {
                if (gone[t]) continue;
                ++running;
                if (held[t].kind != job_wait) {
                    can_act.push_back(t);
                    continue;
                }
                Progress peek = progress;
                std::vector<char> peek_flags = flags;
                peek.pass[0].estimated = peek_flags.data();
                peek.pass[1].estimated = peek_flags.data() + store_rows;
                if (next_job(&peek, t == 0).kind != job_wait) can_act.push_back(t);
            }
            if (running == 0) break;
            if (can_act.empty()) return false;
            const std::size_t t = can_act[gen() % can_act.size()];
            if (held[t].kind != job_wait) {
                in_flight.erase(in_flight.begin() + static_cast<std::ptrdiff_t>(slot_of_thread[t]));
                for (std::size_t u = 0; u < held.size(); ++u)
                    if (held[u].kind != job_wait && slot_of_thread[u] > slot_of_thread[t])
                        --slot_of_thread[u];
                end(held[t]);
                held[t].kind = job_wait;
                continue;
            }
            const Job job = next_job(&progress, t == 0);
            if (job.kind == job_done) {
                gone[t] = 1;
                continue;
            }
            std::vector<Touch> touches = start(job);
            slot_of_thread[t] = in_flight.size();
            in_flight.push_back(touches);
            held[t] = job;
        }
        for (int r = 0; r < h2; ++r) EXPECT_TRUE(written[at(r)]) << "row " << r << " not written";
        return true;
    }
};

TEST(StageOrder, RandomSchedulesAreSafeAndNeverStall) {
    std::mt19937_64 gen(7);
    const int rings[][2] = {{min_grid_rows, min_store_rows},
                            {min_grid_rows + 1, min_store_rows + 1},
                            {default_grid_rows, default_store_rows},
                            {200, 64}};
    for (const auto& ring : rings)
        for (int threads : {1, 2, 3, 7})
            for (int h2 : {6, 12, 14, 18, 24, 30, 47, 64, 150})
                for (int schedule = 0; schedule < 8; ++schedule) {
                    SCOPED_TRACE(testing::Message() << ring[0] << " grid rows, " << ring[1]
                                                    << " slot rows, " << threads << " threads, "
                                                    << h2 << " rows, schedule " << schedule);
                    Simulation simulation(h2, grid_rows_for(h2, ring[0]),
                                          store_rows_for(h2, ring[1]));
                    ASSERT_TRUE(simulation.run(threads, gen)) << "stalled";
                    if (HasFailure()) return;
                }
}

// The least sizes are tight: one row fewer in either ring, and a single
// thread can no longer go on.
TEST(StageOrder, SmallerRingsStall) {
    std::mt19937_64 gen(11);
    Simulation short_grid(100, min_grid_rows - 1, min_store_rows);
    EXPECT_FALSE(short_grid.run(1, gen));
    Simulation short_store(100, min_grid_rows, min_store_rows - 1);
    EXPECT_FALSE(short_store.run(1, gen));
}

}  // namespace

}  // namespace quillmorph

// Once Stop has been asked for, a kit run ends stopped whatever the author's code does with the signal.
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "vembro/Vembro.h"
#include "vembro/kit/Runner.h"

namespace {

struct StateLog : vembro::kit::RunReports {
    void OnState(long state) noexcept override { states.push_back(state); }
    void OnProgress(long, long) noexcept override {}
    std::vector<long> states;
};

TEST(KitStopSignal, EndsTheRunStoppedWhateverTheAuthorCatches)
{
    for (int author = 0; author < 3; ++author) { // rethrows, throws its own error, swallows it
        StateLog log;
        vembro::kit::Runner runner(log, nullptr, FTSTATE_CONVERT); // a synchronous run holds no owner
        HRESULT hr = runner.RunSync_nothrow([&](vembro::kit::Progress& progress) {
            runner.Stop();
            try {
                progress.Checkpoint();
            } catch (...) {
                if (author == 0)
                    throw;
                if (author == 1)
                    throw std::runtime_error("cancelled");
            }
        });
        EXPECT_EQ(vembro::kit::kStoppedResult, hr) << author;
        EXPECT_EQ((std::vector<long>{FTSTATE_CONVERT, FTSTATE_STOPPED}), log.states) << author;
        EXPECT_EQ(S_OK, runner.Error()) << author;
    }
}

} // namespace

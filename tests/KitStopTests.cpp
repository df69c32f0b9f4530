// The kit's stop signal cannot be swallowed: once Stop has been asked for,
// a run ends stopped whatever the author's code does with the signal.
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

struct NoOwner : IUnknown {
    STDMETHODIMP QueryInterface(REFIID, void**) noexcept override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
    STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
};

enum class Author { Rethrows, TurnsIntoItsOwnError, SwallowsAndReturns };

class KitStopSignal : public ::testing::TestWithParam<Author> {};

TEST_P(KitStopSignal, EndsTheRunStoppedWhateverTheAuthorCatches)
{
    StateLog log;
    NoOwner owner;
    vembro::kit::Runner runner(log, &owner, FTSTATE_CONVERT);
    const Author author = GetParam();
    HRESULT hr = runner.RunSync([&](vembro::kit::Progress& progress) {
        runner.Stop();
        try {
            progress.Checkpoint();
        } catch (...) {
            if (author == Author::Rethrows)
                throw;
            if (author == Author::TurnsIntoItsOwnError)
                throw std::runtime_error("cancelled");
        }
    });
    EXPECT_EQ(vembro::kit::kStoppedResult, hr);
    EXPECT_EQ((std::vector<long>{FTSTATE_CONVERT, FTSTATE_STOPPED}), log.states);
    EXPECT_EQ(S_OK, runner.Error());
}

INSTANTIATE_TEST_SUITE_P(EveryAuthor, KitStopSignal,
                         ::testing::Values(Author::Rethrows, Author::TurnsIntoItsOwnError,
                                           Author::SwallowsAndReturns));

} // namespace

#include <gtest/gtest.h>

#include <vector>

#include "platform/Platform.h"
#include "smtp/ProgressEvent.h"
#include "smtp/ProgressMonitor.h"

using namespace hanamail;

namespace {

class Recorder : public ProgressEvent {
public:
    void percentDone(int percent, bool& abort) override
    {
        percents.push_back(percent);
        abort = stop;
    }
    void abortCheck(bool& abort) override
    {
        ++checks;
        abort = stop;
    }
    std::vector<int> percents;
    int checks = 0;
    bool stop = false;
};

TEST(ProgressMonitor, PercentagesOfLargeTotalsDoNotOverflow)
{
    EXPECT_EQ(ProgressMonitor::percentage(0, 0), 100);
    EXPECT_EQ(ProgressMonitor::percentage(1, 3), 33);
    EXPECT_EQ(ProgressMonitor::percentage(4000000000u, 4000000000u), 100);
    EXPECT_EQ(ProgressMonitor::percentage(2000000000u, 4000000000u), 50);
    EXPECT_EQ(ProgressMonitor::percentage(4294967295u, 4294967295u), 100);
}

TEST(ProgressMonitor, TellsEachNewPercentageAndCapsAtTheTotal)
{
    Recorder app;
    ProgressMonitor pm(&app, 200);
    bool abort = true;
    pm.step(1, abort);  // 0 %: no new percentage, too soon for an abort check
    EXPECT_FALSE(abort);
    pm.step(1, abort);
    pm.step(98, abort);
    pm.step(4000000000u, abort);
    EXPECT_EQ(pm.getDone(), 200u);
    EXPECT_EQ(app.percents, (std::vector<int>{1, 50, 100}));
    EXPECT_EQ(app.checks, 0);
    pm.finish(abort);  // already complete: nothing more
    EXPECT_EQ(app.percents.size(), 3u);
}

TEST(ProgressMonitor, AsksForAnAbortOnlyAfterAQuietSpell)
{
    Recorder app;
    ProgressMonitor pm(&app, 1000000);
    bool abort = false;
    pm.step(1, abort);
    EXPECT_EQ(app.checks, 0);
    platform::sleepMs(ProgressMonitor::kAbortCheckMs + 100);
    pm.step(1, abort);
    EXPECT_EQ(app.checks, 1);
    pm.step(1, abort);  // the spell starts again
    EXPECT_EQ(app.checks, 1);
    app.stop = true;
    platform::sleepMs(ProgressMonitor::kAbortCheckMs + 100);
    pm.step(1, abort);
    EXPECT_TRUE(abort);
    EXPECT_TRUE(pm.wasAborted());
    pm.finish(abort);  // percentDone answers with an abort too
    EXPECT_TRUE(abort);
    EXPECT_EQ(app.percents.back(), 100);
}

TEST(ProgressMonitor, WithoutACallbackOnlyCounts)
{
    ProgressMonitor pm(nullptr, 10);
    bool abort = true;
    pm.step(3, abort);
    EXPECT_FALSE(abort);
    pm.finish(abort);
    EXPECT_EQ(pm.getDone(), 10u);
}

}  // namespace

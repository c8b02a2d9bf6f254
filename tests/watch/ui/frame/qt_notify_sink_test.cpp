// Notify sink: events from another thread arrive on the UI thread, in order, until detached.
#include "watch/ui/frame/qt_notify_sink.h"

#include "tests/watch/ui/frame/frame_test_support.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace
{

TEST(QtNotifySink, DeliversOnTheUiThreadInPostingOrder)
{
    CQtNotifySink sink;
    std::vector<WatchNotification> seen;
    bool offThread = false;
    sink.SetHandler(
        [&](uint32_t message, intptr_t wParam, intptr_t lParam)
        {
            offThread |= QThread::currentThread() != sink.thread();
            seen.push_back({message, wParam, lParam});
        });

    constexpr int kCount = 2000;
    std::thread worker(
        [&]
        {
            for (int i = 0; i < kCount; ++i)
                sink.PostNotify(i % 3 == 0 ? WM_WATCH_TABLE : WM_WATCH_STATUS, i % 7, i);
        });
    worker.join();
    ASSERT_TRUE(WaitUntil([&] { return seen.size() == kCount; }));
    EXPECT_FALSE(offThread);
    for (int i = 0; i < kCount; ++i)
    {
        const WatchNotification expected{i % 3 == 0 ? WM_WATCH_TABLE : WM_WATCH_STATUS, i % 7, i};
        ASSERT_EQ(seen[static_cast<size_t>(i)], expected) << i;
    }
}

TEST(QtNotifySink, PostingNeverWaitsForTheUiThread)
{
    CQtNotifySink sink;
    int handled = 0;
    sink.SetHandler([&](uint32_t, intptr_t, intptr_t) { ++handled; });
    // The UI thread is not spinning here; the worker must still finish.
    std::thread worker(
        [&]
        {
            for (int i = 0; i < 500; ++i)
                sink.PostNotify(WM_WATCH_STATUS, kStatusCountdown, i);
        });
    worker.join();
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(WaitUntil([&] { return handled == 500; }));
}

TEST(QtNotifySink, DetachDropsQueuedAndLaterNotifications)
{
    auto sink = std::make_unique<CQtNotifySink>();
    std::atomic<bool> stop{false};
    int handled = 0;
    sink->SetHandler([&](uint32_t, intptr_t, intptr_t) { ++handled; });

    // A worker keeps posting while the receiver detaches, as the engine may during shutdown.
    std::thread worker(
        [&]
        {
            while (!stop.load())
                sink->PostNotify(WM_WATCH_STATUS, kStatusCountdown, 1);
        });
    QTest::qWait(20);
    sink->Detach();
    const int atDetach = handled;
    QTest::qWait(50);
    EXPECT_EQ(handled, atDetach);
    stop = true;
    worker.join();
    sink.reset();
    QCoreApplication::processEvents();
}

TEST(QtNotifySink, HandlerMayDetachWhileRunning)
{
    CQtNotifySink sink;
    int handled = 0;
    sink.SetHandler(
        [&](uint32_t, intptr_t, intptr_t)
        {
            ++handled;
            sink.Detach();
        });
    sink.PostNotify(WM_WATCH_TABLE, 0, 0);
    sink.PostNotify(WM_WATCH_TABLE, 0, 0);
    QTest::qWait(50);
    EXPECT_EQ(handled, 1);
}

} // namespace

namespace
{

TEST(QtNotifySink, FrameGoingAwayDetachesItsSink)
{
    CQtNotifySink sink;
    CFakeDocument doc;
    auto frame = std::make_unique<CMainFrame>(&doc, nullptr);
    frame->AttachNotifySink(&sink);
    sink.PostNotify(WM_WATCH_STATUS, kStatusRunBegins, 0);
    ASSERT_TRUE(WaitUntil([&] { return frame->IsRunning(); }));

    sink.PostNotify(WM_WATCH_TABLE, 0, 0);
    frame.reset();
    sink.PostNotify(WM_WATCH_TABLE, 0, 0);
    QTest::qWait(30);
    EXPECT_EQ(doc.m_merges, 0);
}

} // namespace

// A worker thread that is created suspended and resumed on demand.
#include "watch/engine/worker_thread.h"

CWorkerThread::CWorkerThread()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    CreateSuspended();
}

CWorkerThread::~CWorkerThread()
{
    ShutdownWorker();
}

void CWorkerThread::CreateSuspended()
{
    // The old thread (ending, or already reset) is handed to the new one, which waits for it
    // before running, so at most one run is ever active and nobody blocks the caller.
    std::thread previous = m_thread.joinable() ? std::move(m_thread) : std::move(m_retired);
    std::thread older = std::move(m_retired);
    const unsigned generation = ++m_generation;
    m_threadExists = true;
    m_ending = false;
    m_released = false;
    m_thread = std::thread(
        [this, generation, previous = std::move(previous), older = std::move(older)]() mutable
        {
            if (older.joinable())
                older.join();
            if (previous.joinable())
                previous.join();
            ThreadEntry(generation);
        });
}

void CWorkerThread::Resume()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_shutdown)
            return;
        if (!m_threadExists || m_ending)
            CreateSuspended();
        m_released = true;
    }
    m_gateChanged.notify_all();
}

void CWorkerThread::Reset()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    // Only the current thread may forget itself; an older one that ends late must not.
    if (std::this_thread::get_id() != m_thread.get_id())
        return;
    m_retired = std::move(m_thread);
    m_threadExists = false;
    m_ending = false;
}

bool CWorkerThread::ThreadExists() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_threadExists;
}

void CWorkerThread::MarkEnding()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_ending = true;
}

void CWorkerThread::ShutdownWorker()
{
    std::thread current;
    std::thread retired;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_shutdown = true;
        current = std::move(m_thread);
        retired = std::move(m_retired);
        m_threadExists = false;
    }
    m_gateChanged.notify_all();
    if (current.joinable())
        current.join();
    if (retired.joinable())
        retired.join();
}

void CWorkerThread::ThreadEntry(unsigned generation)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_gateChanged.wait(lock, [&]
                           { return m_shutdown || (m_released && generation == m_generation); });
        if (m_shutdown && !(m_released && generation == m_generation))
            return;
    }
    // Nothing that escapes the run may end the process.
    try
    {
        Run();
    }
    catch (...)
    {
    }
    try
    {
        AfterRun();
        Reset();
    }
    catch (...)
    {
    }
}

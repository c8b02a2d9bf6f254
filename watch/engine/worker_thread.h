// A worker thread that is created suspended and resumed on demand.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class CWorkerThread
{
  public:
    // Creates the first worker, suspended: it exists but runs nothing until Resume.
    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // The thread body.
    virtual void Run() = 0;
    // Called on the worker after Run; does nothing here.
    virtual void AfterRun() {}
    // Creates a worker suspended when none exists (or the current one is ending), then lets it
    // run.
    virtual void Resume();
    // Forgets the current thread so the next Resume creates a fresh one; called on the worker
    // itself when its run ends.
    virtual void Reset();

    bool ThreadExists() const;

  protected:
    // Called by Run once it has decided to end, before it says so: a Resume from then on
    // starts a fresh thread instead of waking the ending one.
    void MarkEnding();
    // Lets a suspended worker go without running, and waits for every worker to finish.
    // Derived classes call it from their destructor, before their members go.
    void ShutdownWorker();

  private:
    void CreateSuspended(); // m_mutex held
    void ThreadEntry(unsigned generation);

    mutable std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    std::thread m_thread;
    std::thread m_retired; // a thread that has reset itself, joined by its successor
    bool m_threadExists = false;
    bool m_ending = false;
    bool m_released = false;
    bool m_shutdown = false;
    unsigned m_generation = 0;
};

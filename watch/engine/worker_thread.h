// A worker thread that is created suspended and resumed on demand.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class CWorkerThread
{
  public:
    CWorkerThread();
    virtual ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // The thread body.
    virtual void Run() = 0;
    // Called after Run on the worker; does nothing here.
    virtual void AfterRun() {}
    // Creates the worker suspended when none exists, then lets it run.
    virtual void Resume();
    // Forgets the thread so the next Resume creates a fresh one; called on the worker itself.
    virtual void Reset();

    bool ThreadExists() const;

  protected:
    // Waits for the current worker, if any, to finish. Never call from the worker.
    void JoinWorker();

  private:
    void CreateSuspended();
    void ThreadEntry(unsigned generation);

    mutable std::mutex m_mutex;
    std::condition_variable m_gateChanged;
    std::thread m_thread;
    bool m_threadExists = false;
    bool m_released = false;  // the start gate of the current thread
    unsigned m_generation = 0; // counts threads, so an old thread's Reset cannot clear a new one
    std::thread m_finished;    // threads that reset themselves, joined later
};

// Recursive lock guarding the engine's snapshot list, and its scoped holder.
#pragma once

#include <mutex>

class CThreadLock
{
  public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

  private:
    std::recursive_mutex m_mutex;
};

// Enters the lock when made and leaves it when destroyed, so every exit path releases it.
class CAutoLock
{
  public:
    explicit CAutoLock(CThreadLock& lock) : m_lock(lock) { m_lock.Lock(); }
    ~CAutoLock() { m_lock.Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

  private:
    CThreadLock& m_lock;
};

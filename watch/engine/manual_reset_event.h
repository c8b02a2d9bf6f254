// A manual-reset event and a wait on two of them with a time-out.
#pragma once

class CManualResetEvent
{
  public:
    void Set();
    void Reset();
    bool IsSet() const;

  private:
    friend int WaitForEither(CManualResetEvent&, CManualResetEvent&, int);
    bool m_signalled = false; // guarded by the events' shared mutex
};

// Waits up to timeoutMs for either event. Returns 0 when the first is signalled (it wins when
// both are), 1 for the second, -1 on time-out.
int WaitForEither(CManualResetEvent& first, CManualResetEvent& second, int timeoutMs);

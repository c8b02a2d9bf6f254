// Transport exceptions: a failed socket call carries its Winsock error number and message.
#pragma once

#include <cstdint>

namespace lanvex
{

// Winsock numbers kept for the conditions whose messages callers know.
constexpr int32_t kWsaEConnReset = 10054;
constexpr int32_t kWsaEShutdown = 10058;
constexpr int32_t kWsaEConnRefused = 10061;
constexpr int32_t kWsaENotSock = 10038;
constexpr int32_t kWsaEIntr = 10004;     // the caller cancelled the blocking call
constexpr int32_t kWsaENoBufs = 10055;   // more data than the caller allowed
constexpr int32_t kWsaETimedOut = 10060; // no connection, or the caller's deadline passed

// Base of the communication layer's exceptions: an error number and an owned message.
class CExpComm
{
  public:
    CExpComm() = default;
    CExpComm(const CExpComm& other);
    CExpComm& operator=(const CExpComm& other);
    virtual ~CExpComm();

    int32_t ErrorCode() const { return m_nError; }
    // Null until a subclass sets the message.
    const char* Message() const { return m_pszMessage; }

  protected:
    int32_t m_nError = 0;
    char* m_pszMessage = nullptr;
};

// A failed socket call; the message is formatted from the error number.
class CExpSocket : public CExpComm
{
  public:
    explicit CExpSocket(int32_t nError);

    static constexpr int kMessageCapacity = 80;
};

// Maps a POSIX errno value to the Winsock number for the same condition.
int32_t WinsockErrorFromErrno(int nErrno);

} // namespace lanvex

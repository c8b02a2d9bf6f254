// Passive-mode transfers over the control session: PASV, one data connection per transfer,
// every transfer bounded in bytes, in silence and in total time, and complete only when the
// server confirms it with a 2yz reply (and, where a size was listed, with exactly that size).
#pragma once

#include "lanvex/ftp/ftp_control.h"
#include "lanvex/ftp/ftp_stream.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lanvex
{

constexpr int64_t kDefaultDownloadLimit = int64_t{64} << 30; // 64 GiB
constexpr int64_t kDefaultFloorRate = 1024;                  // bytes per second

struct FtpTransferBounds
{
    int64_t ExpectedSize = -1; // the listed size; -1 when none is known
    int64_t MaxBytes = kDefaultDownloadLimit;
    int64_t FloorRate = kDefaultFloorRate; // the slowest rate the total time allows for
    const char* LimitName = "download limit";
};

// Where a download's bytes go: Begin once the server has agreed to send (nothing local is
// touched before), then Write for each block. Either may throw CFtpFailure.
struct FtpSink
{
    std::function<void()> Begin;
    std::function<void(const char*, size_t)> Write;
};

class CFtpTransfers
{
  public:
    // Transfers move data in blocks of this size.
    static constexpr int kBlock = 10512;

    explicit CFtpTransfers(CFtpControl& control) : m_control(control) {}

    // Data connections go to this host, whatever PASV names.
    void SetHost(std::optional<std::string> host) { m_host = std::move(host); }
    void SetDataStreamHook(FtpDataStreamHook hook) { m_hook = std::move(hook); }
    // Called with the bytes moved so far, after every block.
    void SetProgress(std::function<void(int64_t)> progress) { m_progress = std::move(progress); }

    // PASV: the port of the next data connection; a reply naming none is a failure.
    int16_t Passive();
    // RETR, LIST or NLST: returns the bytes received.
    int64_t Download(std::string_view line, const FtpSink& sink, const FtpTransferBounds& bounds,
                     int16_t* pDataPort);
    // STOR from an open local file of nSize bytes (-1: unknown).
    int64_t Upload(std::string_view line, FILE* pSource, int64_t nSize,
                   const FtpTransferBounds& bounds, int16_t* pDataPort);

  private:
    struct CRun;
    template <class Move>
    int64_t Transfer(std::string_view line, int64_t nSize, const FtpTransferBounds& bounds,
                     int16_t* pDataPort, const std::function<void()>& begin, Move move);

    CFtpControl& m_control;
    std::optional<std::string> m_host;
    FtpDataStreamHook m_hook;
    std::function<void(int64_t)> m_progress;
};

} // namespace lanvex

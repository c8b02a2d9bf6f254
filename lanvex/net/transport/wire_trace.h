// Wire trace: what the components send and receive, appended to the file named by the
// environment variable LANVEX_TRACE ("-" for standard error), one time-stamped line per item.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lanvex
{

enum class ETraceDirection
{
    Send,
    Receive,
};

// How the bytes of one send or receive are shown.
enum class ETraceFormat
{
    Telnet, // commands decoded ("IAC DO ECHO"), text split into lines
    Lines,  // a line protocol (FTP control): one trace line per line, PASS masked when sent
    Text,   // plain text split into lines
    Data,   // a transfer's payload: only its size
};

// Larger files are moved aside to "<name>.1" (replacing an older one) and started afresh.
constexpr std::size_t kWireTraceFileCap = 16u << 20;

// The trace lines that describe one chunk, without time stamp or prefix. Pure.
std::vector<std::string> DescribeWireBytes(ETraceFormat format, ETraceDirection direction,
                                           std::string_view bytes);
// Printable ASCII and valid UTF-8 as they are, everything else escaped (\r, \n, \t, \\, \xNN).
std::string EscapeWireText(std::string_view bytes);

namespace detail
{
// 0: not looked at yet, 1: off, 2: on.
extern std::atomic<int> g_wireTraceState;
int StartWireTrace() noexcept;
} // namespace detail

// The one check on the data path: a relaxed load once the environment has been read.
inline bool WireTraceOn() noexcept
{
    int state = detail::g_wireTraceState.load(std::memory_order_relaxed);
    if (state == 0)
        state = detail::StartWireTrace();
    return state == 2;
}

// Records one chunk sent or received by component ("lvTelnet", "lvFTPClient", ...).
void TraceWireBytes(const char* component, ETraceDirection direction, ETraceFormat format,
                    const void* data, std::size_t length);
// Records that a secret went over the wire, without it: "<what> ****".
void TraceWireSecret(const char* component, ETraceDirection direction, std::string_view what);
// Records an event that is not bytes on the wire (connecting, a data transfer's size).
void TraceWireNote(const char* component, std::string_view text);

// Points the trace at target (a file name, "-" or null/empty for off) with the given cap,
// in place of what LANVEX_TRACE says. Returns false, and leaves the trace off, when the file
// cannot be opened.
bool ConfigureWireTrace(const char* target, std::size_t cap = kWireTraceFileCap);

} // namespace lanvex

// Wire trace: describing bytes for people (telnet commands, protocol lines) and appending
// time-stamped lines to the trace file under a size cap.
#include "lanvex/net/transport/wire_trace.h"

#include "lanvex/net/transport/telnet_negotiation.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lanvex
{

namespace
{

const char* CommandName(uint8_t command)
{
    static const char* const kNames[] = {"SE", "NOP", "DM", "BRK",  "IP",   "AO", "AYT", "EC",
                                         "EL", "GA",  "SB", "WILL", "WONT", "DO", "DONT"};
    return command >= telnet::kSE && command < telnet::kIAC ? kNames[command - telnet::kSE]
                                                            : nullptr;
}

std::string OptionName(uint8_t option)
{
    struct Named
    {
        uint8_t Option;
        const char* Name;
    };
    static const Named kNames[] = {
        {0, "BINARY"},          {1, "ECHO"},      {3, "SGA"},          {5, "STATUS"},
        {6, "TIMING-MARK"},     {24, "TTYPE"},    {31, "NAWS"},        {32, "TSPEED"},
        {33, "LFLOW"},          {34, "LINEMODE"}, {35, "XDISPLOC"},    {36, "OLD-ENVIRON"},
        {37, "AUTHENTICATION"}, {38, "ENCRYPT"},  {39, "NEW-ENVIRON"}, {255, "EXOPL"},
    };
    for (const Named& named : kNames)
        if (named.Option == option)
            return named.Name;
    return std::to_string(option);
}

// Length of the valid UTF-8 character at the start of bytes, 0 if there is none.
std::size_t Utf8Length(std::string_view bytes)
{
    const auto lead = static_cast<uint8_t>(bytes[0]);
    std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead >= 0xF5 || length == 0 || length > bytes.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<uint8_t>(bytes[i]) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values past U+10FFFF.
    const auto second = static_cast<uint8_t>(bytes[1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
}

// Splits text after every line feed; each piece becomes one trace line.
void AddTextLines(std::string_view text, std::vector<std::string>& lines)
{
    while (!text.empty())
    {
        const std::size_t end = text.find('\n');
        const std::size_t take = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(EscapeWireText(text.substr(0, take)));
        text.remove_prefix(take);
    }
}

std::string HexBytes(std::string_view bytes)
{
    std::string out;
    char hex[4];
    for (char c : bytes)
    {
        std::snprintf(hex, sizeof hex, " %02X", static_cast<uint8_t>(c));
        out += hex;
    }
    return out;
}

// Telnet: text runs (IAC IAC is a data byte) and one line per command.
std::vector<std::string> DescribeTelnet(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::string text;
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<uint8_t>(bytes[k]); };
    while (i < bytes.size())
    {
        if (at(i) != telnet::kIAC)
        {
            text += bytes[i++];
            continue;
        }
        if (i + 1 < bytes.size() && at(i + 1) == telnet::kIAC)
        {
            text += bytes[i];
            i += 2;
            continue;
        }
        AddTextLines(text, lines);
        text.clear();
        std::string command = "IAC";
        ++i;
        if (i == bytes.size())
        {
            lines.push_back(command + " (cut)");
            break;
        }
        const uint8_t code = at(i++);
        const char* name = CommandName(code);
        command += ' ';
        command += name ? name : std::to_string(code);
        if (code >= telnet::kWILL && code <= telnet::kDONT)
        {
            if (i == bytes.size())
                command += " (cut)";
            else
                command += ' ' + OptionName(at(i++));
        }
        else if (code == telnet::kSB)
        {
            // Up to IAC SE; IAC IAC inside stands for one 255.
            std::string payload;
            bool ended = false;
            if (i < bytes.size())
                command += ' ' + OptionName(at(i++));
            while (i < bytes.size())
            {
                if (at(i) == telnet::kIAC && i + 1 < bytes.size() && at(i + 1) == telnet::kSE)
                {
                    ended = true;
                    i += 2;
                    break;
                }
                if (at(i) == telnet::kIAC && i + 1 < bytes.size() && at(i + 1) == telnet::kIAC)
                    ++i;
                payload += bytes[i++];
            }
            command += HexBytes(payload);
            command += ended ? " IAC SE" : " (cut)";
        }
        lines.push_back(std::move(command));
    }
    AddTextLines(text, lines);
    return lines;
}

bool IsPasswordCommand(std::string_view line)
{
    if (line.size() < 4 || strncasecmp(line.data(), "PASS", 4) != 0)
        return false;
    return line.size() == 4 || line[4] == ' ' || line[4] == '\r' || line[4] == '\n';
}

std::vector<std::string> DescribeLines(ETraceDirection direction, std::string_view bytes)
{
    std::vector<std::string> lines;
    while (!bytes.empty())
    {
        const std::size_t end = bytes.find('\n');
        const std::size_t take = end == std::string_view::npos ? bytes.size() : end + 1;
        std::string_view line = bytes.substr(0, take);
        bytes.remove_prefix(take);
        if (direction == ETraceDirection::Send && IsPasswordCommand(line))
        {
            lines.push_back("PASS ****");
            continue;
        }
        // The line end is implied; a line without one shows its last bytes as they came.
        if (line.ends_with("\r\n"))
            line.remove_suffix(2);
        else if (line.ends_with('\n'))
            line.remove_suffix(1);
        lines.push_back(EscapeWireText(line));
    }
    return lines;
}

// The open trace: one per loaded module, written under a lock by whichever thread records.
struct TraceSink
{
    std::mutex Lock;
    int Fd = -1;
    bool OwnsFd = false;
    // Only a regular file is capped and moved aside; a device or a pipe is never renamed.
    bool Rotates = false;
    std::string Path;
    std::size_t Cap = kWireTraceFileCap;
    std::size_t Size = 0;

    void Close()
    {
        if (OwnsFd && Fd >= 0)
            ::close(Fd);
        Fd = -1;
        OwnsFd = false;
        Rotates = false;
    }
    // The module may be unloaded and loaded again: no descriptor left behind.
    ~TraceSink() { Close(); }
};

TraceSink& Sink()
{
    static TraceSink sink;
    return sink;
}

int OpenTraceFile(const std::string& path)
{
    // The trace may show user names and commands: readable by the owner only. O_NONBLOCK: a
    // FIFO nobody reads fails to open instead of holding the session's thread for ever, and
    // a reader that stops reading cannot block a send or a receive.
    return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
}

// A reader of a pipe that falls this far behind loses the trace rather than slowing sessions.
constexpr int kTraceWriteWaitMs = 1000;

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end the client program;
// while a record is written the signal is held for this thread, and one it raised is taken.
class CHeldBrokenPipe
{
  public:
    CHeldBrokenPipe()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_previous);
        sigset_t pending;
        sigemptyset(&pending);
        m_bWasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    }
    ~CHeldBrokenPipe()
    {
        if (m_bRaised && !m_bWasPending)
        {
            const timespec now{};
            sigtimedwait(&m_pipe, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }
    CHeldBrokenPipe(const CHeldBrokenPipe&) = delete;
    CHeldBrokenPipe& operator=(const CHeldBrokenPipe&) = delete;
    void Raised() { m_bRaised = true; }

  private:
    sigset_t m_pipe;
    sigset_t m_previous;
    bool m_bWasPending = false;
    bool m_bRaised = false;
};

bool WriteAll(int fd, const std::string& bytes)
{
    CHeldBrokenPipe held;
    int nWaitLeft = kTraceWriteWaitMs;
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && nWaitLeft > 0)
        {
            pollfd pfd{fd, POLLOUT, 0};
            const auto before = std::chrono::steady_clock::now();
            ::poll(&pfd, 1, nWaitLeft);
            nWaitLeft -= static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now() - before)
                                              .count()) +
                         1;
            continue;
        }
        if (n < 0 && errno == EPIPE)
            held.Raised();
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Appends a block of whole lines; moves a full file aside first.
void Append(TraceSink& sink, const std::string& block)
{
    if (sink.Fd < 0)
        return;
    if (sink.Rotates && sink.Size > 0 && sink.Size + block.size() > sink.Cap)
    {
        const std::string older = sink.Path + ".1";
        sink.Close();
        ::rename(sink.Path.c_str(), older.c_str());
        sink.Fd = OpenTraceFile(sink.Path);
        sink.OwnsFd = sink.Fd >= 0;
        sink.Rotates = sink.OwnsFd;
        sink.Size = 0;
        if (sink.Fd < 0)
        {
            detail::g_wireTraceState.store(1, std::memory_order_relaxed);
            return;
        }
    }
    if (WriteAll(sink.Fd, block))
        sink.Size += block.size();
    else if (!sink.Rotates && sink.OwnsFd)
    {
        // A pipe whose reader went away or stopped reading: the trace ends there.
        sink.Close();
        detail::g_wireTraceState.store(1, std::memory_order_relaxed);
    }
}

std::string Prefix(const char* component, char direction)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ [%ld] %s %c ",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, now.tv_nsec / 1000000, static_cast<long>(::getpid()),
                  component ? component : "?", direction);
    return stamp;
}

void Record(const char* component, char direction, const std::vector<std::string>& lines)
{
    const std::string prefix = Prefix(component, direction);
    std::string block;
    for (const std::string& line : lines)
        block += prefix + line + '\n';
    TraceSink& sink = Sink();
    const std::lock_guard<std::mutex> guard(sink.Lock);
    Append(sink, block);
}

char DirectionMark(ETraceDirection direction)
{
    return direction == ETraceDirection::Send ? '>' : '<';
}

} // namespace

std::string EscapeWireText(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty())
    {
        const auto c = static_cast<uint8_t>(bytes[0]);
        std::size_t take = 1;
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else if (c >= 0x80 && (take = Utf8Length(bytes)) > 0)
            out.append(bytes.substr(0, take));
        else
        {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            take = 1;
        }
        bytes.remove_prefix(take);
    }
    return out;
}

std::vector<std::string> DescribeWireBytes(ETraceFormat format, ETraceDirection direction,
                                           std::string_view bytes)
{
    switch (format)
    {
    case ETraceFormat::Telnet:
        return DescribeTelnet(bytes);
    case ETraceFormat::Lines:
        return DescribeLines(direction, bytes);
    case ETraceFormat::Data:
        return {std::to_string(bytes.size()) + " bytes of data"};
    case ETraceFormat::Text:
        break;
    }
    std::vector<std::string> lines;
    AddTextLines(bytes, lines);
    return lines;
}

namespace detail
{
std::atomic<int> g_wireTraceState{0};

int StartWireTrace() noexcept
{
    static std::once_flag once;
    std::call_once(once, [] { ConfigureWireTrace(std::getenv("LANVEX_TRACE")); });
    return g_wireTraceState.load(std::memory_order_relaxed);
}
} // namespace detail

bool ConfigureWireTrace(const char* target, std::size_t cap)
{
    TraceSink& sink = Sink();
    const std::lock_guard<std::mutex> guard(sink.Lock);
    sink.Close();
    sink.Path.clear();
    sink.Cap = cap;
    sink.Size = 0;
    if (!target || !*target)
    {
        detail::g_wireTraceState.store(1, std::memory_order_relaxed);
        return true;
    }
    if (std::strcmp(target, "-") == 0)
    {
        sink.Fd = STDERR_FILENO;
    }
    else
    {
        sink.Path = target;
        sink.Fd = OpenTraceFile(sink.Path);
        if (sink.Fd < 0)
        {
            std::fprintf(stderr, "Lanvex: cannot open the trace file %s: %s\n", target,
                         std::strerror(errno));
            detail::g_wireTraceState.store(1, std::memory_order_relaxed);
            return false;
        }
        sink.OwnsFd = true;
        struct stat info
        {
        };
        if (::fstat(sink.Fd, &info) == 0 && S_ISREG(info.st_mode))
        {
            sink.Rotates = true;
            sink.Size = static_cast<std::size_t>(info.st_size);
        }
    }
    detail::g_wireTraceState.store(2, std::memory_order_relaxed);
    return true;
}

void TraceWireBytes(const char* component, ETraceDirection direction, ETraceFormat format,
                    const void* data, std::size_t length)
{
    if (!WireTraceOn() || length == 0)
        return;
    const std::string_view bytes(static_cast<const char*>(data), length);
    Record(component, DirectionMark(direction), DescribeWireBytes(format, direction, bytes));
}

void TraceWireSecret(const char* component, ETraceDirection direction, std::string_view what)
{
    if (!WireTraceOn())
        return;
    Record(component, DirectionMark(direction), {std::string(what) + " ****"});
}

void TraceWireNote(const char* component, std::string_view text)
{
    if (!WireTraceOn())
        return;
    Record(component, '*', {EscapeWireText(text)});
}

} // namespace lanvex

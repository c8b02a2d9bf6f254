// psvigil-cli serve: every host of a list watched at once, the latest refreshes served to
// Prometheus at /metrics, over cpp-httplib with bounds of our own on each request.
#include "watch/cli/metrics_text.h"
#include "watch/cli/multi_commands.h"
#include "watch/ui/files/config_file.h"

#include <httplib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{
using Clock = std::chrono::steady_clock;

// A request is a request line and at most this many header lines, within these bytes and this
// time; the answer gets its own time. Prometheus sends a few hundred bytes at once.
constexpr int kMaxHeaderLines = 64;
constexpr std::size_t kMaxRequestBytes = 16 * 1024;
constexpr std::chrono::seconds kRequestTime{3};
constexpr std::chrono::seconds kAnswerTime{10};
constexpr int kServerThreads = 4;

// The connection as cpp-httplib reads it, with the bounds the library lacks: a deadline for
// the whole request (not per read), a byte budget and a line budget (its header count).
class CBoundedStream final : public httplib::Stream
{
  public:
    explicit CBoundedStream(int fd)
        : m_fd(fd), m_readDeadline(Clock::now() + kRequestTime),
          m_writeDeadline(m_readDeadline + kAnswerTime)
    {
    }
    using httplib::Stream::write;

    bool is_readable() const override { return Wait(POLLIN, m_readDeadline); }
    bool is_writable() const override { return Wait(POLLOUT, m_writeDeadline); }

    ssize_t read(char* ptr, size_t size) override
    {
        if (m_bytesLeft == 0 || m_linesLeft < 0 || !is_readable())
            return -1;
        ssize_t n;
        do
            n = ::recv(m_fd, ptr, std::min(size, m_bytesLeft), 0);
        while (n < 0 && errno == EINTR);
        if (n > 0)
        {
            m_bytesLeft -= static_cast<std::size_t>(n);
            m_linesLeft -= static_cast<int>(std::count(ptr, ptr + n, '\n'));
            if (m_linesLeft < 0)
                return -1;
        }
        return n;
    }

    ssize_t write(const char* ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        ssize_t n;
        do
            n = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        Address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        Address(::getsockname, ip, port);
    }
    socket_t socket() const override { return m_fd; }

  private:
    bool Wait(short events, Clock::time_point deadline) const
    {
        for (;;)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0)
                return false;
            pollfd p{m_fd, events, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR)
                continue;
            return ready > 0 && (p.revents & events) != 0;
        }
    }

    template <class Getter> void Address(Getter getter, std::string& ip, int& port) const
    {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        ip.clear();
        port = 0;
        if (getter(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (address.ss_family == AF_INET)
        {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
            ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            port = ntohs(v4->sin_port);
        }
        else if (address.ss_family == AF_INET6)
        {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
            ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    int m_fd;
    Clock::time_point m_readDeadline;
    Clock::time_point m_writeDeadline;
    std::size_t m_bytesLeft = kMaxRequestBytes;
    int m_linesLeft = kMaxHeaderLines + 2; // the request line and the empty line too
};

// cpp-httplib's server with one bounded request per connection.
class CMetricsServer final : public httplib::Server
{
  private:
    bool process_and_close_socket(socket_t sock) override
    {
        CBoundedStream stream(sock);
        bool closed = false;
        const bool answered = process_request(stream, true, closed, [](httplib::Request&) {});
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return answered;
    }
};

int ServeUsage()
{
    std::fprintf(stderr, "usage: psvigil-cli serve [--listen HOST:PORT] [--hosts psvigil.cfg] "
                         "[--jobs N]\n  (default --listen 127.0.0.1:9256)\n");
    return 2;
}

bool SplitListen(const std::string& text, std::string& host, int& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    char* end = nullptr;
    const long value = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (host.empty() || *end != '\0' || value < 1 || value > 65535)
        return false;
    port = static_cast<int>(value);
    return true;
}
} // namespace

int RunServeCommand(const CliArgs& args)
{
    std::string listen = "127.0.0.1:9256";
    std::string path = kConfigFileName;
    CHostPool::Options options;
    options.Events = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--listen" && hasValue)
            listen = args[++i];
        else if (args[i] == "--hosts" && hasValue)
            path = args[++i];
        else if (args[i] == "--jobs" && hasValue)
        {
            char* end = nullptr;
            const long jobs = std::strtol(args[++i].c_str(), &end, 10);
            if (*end != '\0' || jobs < 1 || jobs > 4096)
                return ServeUsage();
            options.Jobs = static_cast<int>(jobs);
        }
        else
            return ServeUsage();
    }
    std::string host;
    int port = 0;
    if (!SplitListen(listen, host, port))
        return ServeUsage();
    std::vector<HostSettings> hosts;
    if (!LoadHostsForAll(path, hosts))
        return 1;
    InstallStopSignals();

    CHostPool pool(std::move(hosts), options);
    CMetricsServer server;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_keep_alive_max_count(1);
    server.set_payload_max_length(0);
    server.set_pre_routing_handler(
        [](const httplib::Request& request, httplib::Response& response)
        {
            if (request.method == "GET")
                return httplib::Server::HandlerResponse::Unhandled;
            response.status = 405;
            response.set_header("Allow", "GET");
            response.set_content("only GET\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        });
    server.Get("/healthz", [](const httplib::Request&, httplib::Response& response)
               { response.set_content("ok\n", "text/plain"); });
    server.Get("/metrics",
               [&pool](const httplib::Request& request, httplib::Response& response)
               {
                   const bool openMetrics =
                       request.get_header_value("Accept").find("application/openmetrics-text") !=
                       std::string::npos;
                   CMetricsText text;
                   pool.ForEachLatest([&](std::size_t i, const HostResult& result)
                                      { text.AddHost(pool.Name(i), pool.Host(i), result); });
                   response.set_content(text.Text(openMetrics),
                                        openMetrics ? kOpenMetricsType : kPrometheusTextType);
               });
    if (!server.bind_to_port(host, port))
    {
        std::fprintf(stderr, "psvigil-cli: cannot listen on %s\n", listen.c_str());
        return 1;
    }
    pool.Start();
    std::fprintf(stderr, "psvigil-cli: serving /metrics on %s for %zu hosts\n", listen.c_str(),
                 pool.Size());
    std::thread listener([&server] { server.listen_after_bind(); });
    while (!StopRequested())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.stop();
    listener.join();
    pool.Stop();
    return 0;
}

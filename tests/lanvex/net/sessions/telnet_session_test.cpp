// lvTelnet against scripted telnet servers: login flow, prompts, silences, resets, large replies.
#include "lanvex/net/sessions/component_object.h"
#include "lanvex/net/sessions/telnet_session.h"
#include "lanvex/net/transport/wire_text.h"
#include "tests/lanvex/net/scripted_server.h"

#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/error_info.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace lanvex
{
namespace
{

using namespace lanvex::test;
using Clock = std::chrono::steady_clock;

// The burst pair of the negotiation and the answers they must get.
const std::string kBurst1 = "\xff\xfd\x01\xff\xfd\x18\xff\xfb\x03";
const std::string kReply1 = "\xff\xfc\x01\xff\xfc\x18\xff\xfd\x03";
const std::string kBurst2 = "\xff\xfa\x18\x01\xff\xf0";
const std::string kReply2 = std::string("\xff\xfa\x18\x00vt100\xff\xf0", 11);

std::vector<ServerStep> LoginSteps()
{
    return {SendBytes(kBurst1),
            ExpectBytes(kReply1),
            SendBytes(kBurst2),
            ExpectBytes(kReply2),
            SendBytes("\r\nlogin: "),
            ExpectBytes("alice\r\n"),
            SendBytes("Password: "),
            ExpectBytes("s3cret\r\n"),
            SendBytes("\r\nWelcome\r\nalice@box:~$ ")};
}

std::vector<ServerStep> Then(std::vector<ServerStep> steps, std::vector<ServerStep> more)
{
    steps.insert(steps.end(), more.begin(), more.end());
    return steps;
}

// Releases the object at scope end, before the server it talks to.
struct TelnetPtr
{
    IlvTelnet2* p = nullptr;
    TelnetPtr()
    {
        void* pv = nullptr;
        EXPECT_EQ(CreateComponent<lvTelnet>(nullptr, IID_IlvTelnet2, &pv), S_OK);
        p = static_cast<IlvTelnet2*>(pv);
    }
    ~TelnetPtr()
    {
        if (p != nullptr)
            p->Release();
    }
    IlvTelnet2* operator->() const { return p; }
};

void SetLogin(const TelnetPtr& telnet, int nPort)
{
    CComBSTR address(u"127.0.0.1"), user(u"alice"), password(u"s3cret");
    telnet->put_Address(address);
    telnet->put_Username(user);
    telnet->put_Password(password);
    telnet->put_Port(static_cast<SHORT>(nPort));
}

std::string Output(const TelnetPtr& telnet)
{
    char* pOutput = nullptr;
    LONG nSize = 0;
    EXPECT_EQ(telnet->GetOutput(&pOutput, nullptr), S_OK);
    EXPECT_EQ(telnet->GetOutputSize(&nSize), S_OK);
    return pOutput != nullptr ? std::string(pOutput, static_cast<size_t>(nSize)) : std::string();
}

TEST(TelnetSession, FreshObjectAndProperties)
{
    TelnetPtr telnet;
    SHORT nPort = 0;
    EXPECT_EQ(telnet->get_Port(&nPort), S_OK);
    EXPECT_EQ(nPort, 23);
    EXPECT_EQ(telnet->IsConnected(), S_FALSE);
    char* pOutput = reinterpret_cast<char*>(1);
    SHORT nSize = -1;
    EXPECT_EQ(telnet->GetOutput(&pOutput, &nSize), S_OK);
    EXPECT_EQ(pOutput, nullptr);
    EXPECT_EQ(nSize, 0);

    // Unset texts read as empty strings; a copy stops at the first zero character; null unsets.
    CComBSTR value;
    EXPECT_EQ(telnet->get_Address(&value), S_OK);
    ASSERT_NE(value.m_str, nullptr);
    EXPECT_EQ(value.Length(), 0u);
    CComBSTR withZero(std::u16string_view(u"host\0tail", 9));
    EXPECT_EQ(telnet->put_Username(withZero), S_OK);
    CComBSTR back;
    telnet->get_Username(&back);
    EXPECT_EQ(std::u16string(back.m_str, back.Length()), u"host");
    EXPECT_EQ(telnet->put_Username(nullptr), S_OK);
    CComBSTR cleared;
    telnet->get_Username(&cleared);
    EXPECT_EQ(cleared.Length(), 0u);
    EXPECT_EQ(telnet->get_Password(nullptr), E_POINTER);
}

TEST(TelnetSession, InterfacesAndErrorInfoSupport)
{
    TelnetPtr telnet;
    const IID* known[] = {&IID_IUnknown, &IID_IDispatch, &IID_IlvTelnet, &IID_IlvTelnet2,
                          &IID_ISupportErrorInfo};
    for (const IID* pIid : known)
    {
        void* pv = nullptr;
        EXPECT_EQ(telnet->QueryInterface(*pIid, &pv), S_OK) << GuidToString(*pIid);
        static_cast<IUnknown*>(pv)->Release();
    }
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(telnet->QueryInterface(IID_IClassFactory, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);

    ISupportErrorInfo* pSupport = nullptr;
    ASSERT_EQ(telnet->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)),
              S_OK);
    EXPECT_EQ(pSupport->InterfaceSupportsErrorInfo(IID_IlvTelnet), S_OK);
    EXPECT_EQ(pSupport->InterfaceSupportsErrorInfo(IID_IlvCache), S_FALSE);
    pSupport->Release();

    // The vtable slots callers rely on: 13 get_Port, 17 IsConnected, 20 GetOutputSize.
    void** pVtable = *reinterpret_cast<void***>(telnet.p);
    SHORT nPort = 0;
    LONG nSize = -1;
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*, SHORT*)>(pVtable[13])(telnet.p, &nPort), S_OK);
    EXPECT_EQ(nPort, 23);
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*)>(pVtable[17])(telnet.p), S_FALSE);
    EXPECT_EQ(reinterpret_cast<HRESULT (*)(void*, LONG*)>(pVtable[20])(telnet.p, &nSize), S_OK);
    EXPECT_EQ(nSize, 0);
}

// An outer object that counts what the inner one delegates to it.
struct COuter : public IUnknown
{
    ULONG m_cRef = 1;
    int m_nQueries = 0;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override
    {
        ++m_nQueries;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }
};

TEST(TelnetSession, AggregationDelegatesToTheOuterObject)
{
    COuter outer;
    void* pv = nullptr;
    EXPECT_EQ(CreateComponent<lvTelnet>(&outer, IID_IlvTelnet, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
    ASSERT_EQ(CreateComponent<lvTelnet>(&outer, IID_IUnknown, &pv), S_OK);
    IUnknown* pInner = static_cast<IUnknown*>(pv);
    IlvTelnet* pTelnet = nullptr;
    ASSERT_EQ(pInner->QueryInterface(IID_IlvTelnet, reinterpret_cast<void**>(&pTelnet)), S_OK);
    // Counts and queries made through the interface go to the outer object.
    pTelnet->AddRef();
    EXPECT_EQ(outer.m_cRef, 2u);
    pTelnet->Release();
    void* pOther = nullptr;
    EXPECT_EQ(pTelnet->QueryInterface(IID_IlvCache, &pOther), E_NOINTERFACE);
    EXPECT_EQ(outer.m_nQueries, 1);
    // The reference the inner query gave is the inner object's own.
    pInner->Release();
    EXPECT_EQ(pInner->Release(), 0u);
    EXPECT_EQ(CreateComponent<lvTelnet>(nullptr, IID_IlvTelnet, nullptr), E_POINTER);
}

TEST(TelnetSession, ConnectLogsInAndExecuteStopsAtThePrompt)
{
    CScriptedServer server({Then(
        LoginSteps(), {ExpectBytes("ps -ef\r\n"), SendBytes("ps -ef\r\nUID PID\r\nalice 42\r\n"
                                                            "alice@box:~$ ")})});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        const auto start = Clock::now();
        ASSERT_EQ(telnet->Connect(), S_OK);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(6));
        EXPECT_EQ(telnet->IsConnected(), S_OK);

        CComBSTR command(u"ps -ef");
        EXPECT_EQ(telnet->Execute(command), S_OK);
        EXPECT_EQ(Output(telnet), "ps -ef\r\nUID PID\r\nalice 42\r\nalice@box:~$ ");
        SHORT nSize = 0;
        telnet->GetOutput(nullptr, &nSize);
        EXPECT_EQ(nSize, 40);
        EXPECT_EQ(telnet->Disconnect(), S_OK);
        EXPECT_EQ(telnet->IsConnected(), S_FALSE);
        EXPECT_EQ(Output(telnet).size(), 40u); // Disconnect keeps the output
    }
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(server.Received(0), kReply1 + kReply2 + "alice\r\ns3cret\r\nps -ef\r\n");
}

TEST(TelnetSession, PromptTestLooksAtTheCurrentPassOnly)
{
    // A bare "$ " pass is two bytes and does not end the command; the next pass does. An empty
    // command sends nothing and still collects. (Connect's last quiet read ends 1 s after the
    // welcome, so the "$ " at 1.5 s falls into Execute's first pass.)
    CScriptedServer server({Then(LoginSteps(), {Silence(1500), SendBytes("$ "), Silence(1600),
                                                SendBytes("late\r\nroot@box:~# ")})});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        ASSERT_EQ(telnet->Connect(), S_OK);
        CComBSTR empty(u"");
        EXPECT_EQ(telnet->Execute(empty), S_OK);
        EXPECT_EQ(Output(telnet), "$ late\r\nroot@box:~# ");
    }
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(server.Received(0), kReply1 + kReply2 + "alice\r\ns3cret\r\n");
}

TEST(TelnetSession, NoPromptRunsAllPassesAndSilentPassesCount)
{
    CScriptedServer server({Then(LoginSteps(), {ExpectBytes("id\r\n"), SendBytes("working. ")})});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        ASSERT_EQ(telnet->Connect(), S_OK);
        const auto start = Clock::now();
        CComBSTR command(u"id");
        EXPECT_EQ(telnet->Execute(command), S_FALSE);
        const auto elapsed = Clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(9500));
        EXPECT_LT(elapsed, std::chrono::seconds(15));
        EXPECT_EQ(Output(telnet), "working. ");
        EXPECT_EQ(telnet->IsConnected(), S_OK);
    }
    EXPECT_EQ(server.Finish(), "");
}

TEST(TelnetSession, ResetDuringExecuteFailsAndKeepsCompletePasses)
{
    CScriptedServer server(
        {Then(LoginSteps(), {ExpectBytes("top\r\n"), SendBytes("first\r\n"), Silence(1500),
                             SendBytes("second"), ResetConnection()})});
    TelnetPtr telnet;
    SetLogin(telnet, server.Port());
    ASSERT_EQ(telnet->Connect(), S_OK);
    CComBSTR command(u"top");
    EXPECT_EQ(telnet->Execute(command), E_FAIL);
    EXPECT_EQ(telnet->IsConnected(), S_FALSE);
    EXPECT_EQ(Output(telnet), "first\r\n");
    EXPECT_EQ(server.Finish(), "");
}

TEST(TelnetSession, LargeReplyKeepsTheSixteenBitCountAndTheFullSize)
{
    const std::string body(40000, 'x');
    CScriptedServer server(
        {Then(LoginSteps(), {ExpectBytes("cat\r\n"), SendBytes(body + "\r\n$ ")})});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        ASSERT_EQ(telnet->Connect(), S_OK);
        CComBSTR command(u"cat");
        EXPECT_EQ(telnet->Execute(command), S_OK);
        char* pOutput = nullptr;
        SHORT nSize = 0;
        telnet->GetOutput(&pOutput, &nSize);
        EXPECT_EQ(nSize, static_cast<SHORT>(40004 - 65536)); // low 16 bits, read signed
        LONG nFull = 0;
        telnet->GetOutputSize(&nFull);
        ASSERT_EQ(nFull, 40004);
        EXPECT_EQ(std::memcmp(pOutput, body.data(), body.size()), 0);
        EXPECT_EQ(pOutput[nFull], '\0'); // one uncounted zero follows
    }
    EXPECT_EQ(server.Finish(), "");
}

TEST(TelnetSession, SecondConnectClosesTheFirstConnection)
{
    // The server serves the second session only after the first one's client has closed.
    CScriptedServer server({LoginSteps(), LoginSteps()});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        ASSERT_EQ(telnet->Connect(), S_OK);
        EXPECT_EQ(telnet->Connect(), S_OK);
        EXPECT_EQ(telnet->IsConnected(), S_OK);
    }
    EXPECT_EQ(server.Finish(), "");
}

TEST(TelnetSession, FailuresWithoutAServer)
{
    TelnetPtr telnet;
    CComBSTR command(u"ls");
    EXPECT_EQ(telnet->Execute(command), E_FAIL); // before Connect

    const struct
    {
        const char16_t* Address;
        int Port;
    } cases[] = {
        {u"127.0.0.1", UnusedPort()},  // refused
        {u"no-such-host.invalid", 23}, // unresolvable
    };
    for (const auto& c : cases)
    {
        CComBSTR address(c.Address);
        telnet->put_Address(address);
        telnet->put_Port(static_cast<SHORT>(c.Port));
        const auto start = Clock::now();
        EXPECT_EQ(telnet->Connect(), E_FAIL);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(telnet->IsConnected(), S_FALSE);
    }
}

size_t OpenDescriptors()
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

TEST(TelnetSession, RefusedConnectsDoNotLeakSockets)
{
    TelnetPtr telnet;
    CComBSTR address(u"127.0.0.1");
    telnet->put_Address(address);
    telnet->put_Port(static_cast<SHORT>(UnusedPort()));
    EXPECT_EQ(telnet->Connect(), E_FAIL);
    const size_t nBefore = OpenDescriptors();
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(telnet->Connect(), E_FAIL);
    EXPECT_LE(OpenDescriptors(), nBefore);
}

TEST(TelnetSession, SilentHostAfterNegotiationFailsTheConnect)
{
    CScriptedServer server({{SendBytes(kBurst1), ExpectBytes(kReply1), Silence(12000)}});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        const auto start = Clock::now();
        EXPECT_EQ(telnet->Connect(), E_FAIL);
        // The second burst waits the first connection's long time-out, then one quiet second.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(13));
        EXPECT_EQ(telnet->IsConnected(), S_FALSE);
    }
    EXPECT_EQ(server.Finish(), "");
}

TEST(TelnetSession, PortMinusOneIsPort65535)
{
    CScriptedServer server({LoginSteps()}, 65535);
    if (server.Port() != 65535)
        GTEST_SKIP() << "port 65535 on 127.0.0.1 is taken on this machine";
    {
        TelnetPtr telnet;
        SetLogin(telnet, 65535);
        SHORT nPort = 0;
        telnet->get_Port(&nPort);
        EXPECT_EQ(nPort, -1);
        EXPECT_EQ(telnet->Connect(), S_OK);
    }
    EXPECT_EQ(server.Finish(), "");
}

// The description of the calling thread's error object, empty when there is none.
std::string ErrorDescription()
{
    IErrorInfo* pInfo = nullptr;
    if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr)
        return {};
    BSTR text = nullptr;
    pInfo->GetDescription(&text);
    pInfo->Release();
    const std::string description = NarrowFromBstr(text);
    SysFreeString(text);
    return description;
}

// The login steps up to the password; the host's answer is the case's.
std::vector<ServerStep> UpToThePassword()
{
    std::vector<ServerStep> steps = LoginSteps();
    steps.pop_back();
    return steps;
}

// What the host answers to the password decides the login, however long it takes to say it.
TEST(TelnetSession, AnswerToThePasswordDecidesTheLogin)
{
    struct Case
    {
        const char* Name;
        std::vector<ServerStep> Answer;
        HRESULT Result;
        const char* Description;
        long WithinMs;
    };
    const Case cases[] = {
        // Debian's telnet server: the line end at once, the verdict some seconds later.
        {"RefusedAfterADelay",
         {SendBytes("\r\n"), Silence(2500), SendBytes("\r\nLogin incorrect\r\nbox login: ")},
         E_FAIL,
         "Login incorrect",
         6000},
        {"AskedForTheLoginAgain",
         {SendBytes("\r\nlogin: ")},
         E_FAIL,
         "the host asked for the login again",
         3000},
        {"ClosedAfterThePassword",
         {SendBytes("\r\n"), CloseConnection()},
         E_FAIL,
         "the host closed the connection after the password",
         3000},
        {"NothingAtAll", {Silence(12000)}, E_FAIL, "the host did not answer the password", 13000},
        // A right password is no slower than one quiet second after the prompt.
        {"ShellPromptAtOnce",
         {SendBytes("\r\nLast login: today\r\nalice@box:~$ ")},
         S_OK,
         "",
         2000},
        {"RootPromptAfterASlowStart",
         {SendBytes("\r\n"), Silence(2500), SendBytes("Welcome\r\n\xff\xfb\x01root@box:~# ")},
         S_OK,
         "",
         6000},
        // A greeting may quote a refusal; the shell prompt below it is what counts, also when
        // the shell sets the title and terminal modes around it.
        {"GreetingQuotingARefusal",
         {SendBytes("\r\nLast login: today\r\nSee the wiki on 'Access denied' errors\r\n"
                    "\x1b]0;alice@box: ~\a"
                    "alice@box% \x1b(B\x1b[m\x1b[K\x1b[?2004h")},
         S_OK,
         "",
         2000},
        // Only the end of a long answer is kept and judged; the refusal text scrolled away.
        {"LongGreetingThenPrompt",
         {SendBytes("\r\nAccess denied to /srv\r\n" + std::string(300000, '=') +
                    "\r\nalice@box:~$ ")},
         S_OK,
         "",
         2000},
        {"RefusalFollowedByMoreText",
         {SendBytes("\r\n"), Silence(1500), SendBytes("\r\nLogin incorrect\r\nTry later.\r\n")},
         E_FAIL,
         "Login incorrect",
         12500},
        // Text without a prompt we know is taken at its word once the answer has settled.
        {"UnknownPromptAfterTheSettlingTime", {SendBytes("\r\nready")}, S_OK, "", 12500},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        CScriptedServer server({Then(UpToThePassword(), c.Answer)});
        {
            TelnetPtr telnet;
            SetLogin(telnet, server.Port());
            SetErrorInfo(0, nullptr);
            const auto start = Clock::now();
            // Connect's part before the password: bursts, then a quiet second after each prompt.
            EXPECT_EQ(telnet->Connect(), c.Result);
            EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(c.WithinMs + 2500));
            EXPECT_EQ(ErrorDescription(), c.Description);
            EXPECT_EQ(telnet->IsConnected(), c.Result == S_OK ? S_OK : S_FALSE);
        }
        server.Finish();
        // Nothing but the login went to the host.
        EXPECT_EQ(server.Received(0), kReply1 + kReply2 + "alice\r\ns3cret\r\n");
    }
}

// A client that hands over a cancel descriptor ends a login or a command in flight at once.
TEST(TelnetSession, CancelDescriptorEndsCallsInFlight)
{
    CScriptedServer server({{SendBytes(kBurst1), Silence(8000)},
                            Then(LoginSteps(), {ExpectBytes("top\r\n"), Silence(8000)})});
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        IlvCancel* pCancel = nullptr;
        ASSERT_EQ(telnet->QueryInterface(IID_IlvCancel, reinterpret_cast<void**>(&pCancel)), S_OK);
        EXPECT_EQ(pCancel->SetCancelDescriptor(fd), S_OK);
        pCancel->Release();
        const auto signalLater = [fd]
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
        };

        std::thread signaller(signalLater);
        auto start = Clock::now();
        EXPECT_EQ(telnet->Connect(), E_FAIL);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
        EXPECT_EQ(ErrorDescription(), "the login was cancelled");
        signaller.join();

        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(fd, &value, sizeof value); // re-arm
        ASSERT_EQ(telnet->Connect(), S_OK);
        signaller = std::thread(signalLater);
        start = Clock::now();
        CComBSTR command(u"top");
        EXPECT_EQ(telnet->Execute(command), E_FAIL);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
        EXPECT_EQ(ErrorDescription(), "the command was cancelled");
        EXPECT_EQ(telnet->IsConnected(), S_FALSE);
        signaller.join();
    }
    ::close(fd);
    server.Finish();
}

// A narrow client's texts that are not UTF-8 (Latin-1 from an older machine) reach the host
// byte for byte.
TEST(TelnetSession, NarrowTextsReachTheHostByteForByte)
{
    CScriptedServer server(
        {{SendBytes(kBurst1), ExpectBytes(kReply1), SendBytes(kBurst2), ExpectBytes(kReply2),
          SendBytes("login: "), ExpectBytes("\xE9lise\r\n"), SendBytes("Password: "),
          ExpectBytes("p\xE4ss\r\n"), SendBytes("\r\n$ "), ExpectBytes("grep \xE9\r\n"),
          SendBytes("x\r\n$ ")}});
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        CComBSTR user(std::u16string_view(WireTextToWide("\xE9lise")));
        CComBSTR password(std::u16string_view(WireTextToWide("p\xE4ss")));
        telnet->put_Username(user);
        telnet->put_Password(password);
        ASSERT_EQ(telnet->Connect(), S_OK);
        CComBSTR command(std::u16string_view(WireTextToWide("grep \xE9")));
        EXPECT_EQ(telnet->Execute(command), S_OK);
    }
    EXPECT_EQ(server.Finish(), "");
}

TEST(TelnetSession, AnUnsetOrEmptyAddressIsTheLocalMachine)
{
    CScriptedServer server({LoginSteps(), LoginSteps()});
    for (const bool bEmpty : {false, true})
    {
        TelnetPtr telnet;
        SetLogin(telnet, server.Port());
        CComBSTR empty(u"");
        telnet->put_Address(bEmpty ? empty.m_str : nullptr);
        EXPECT_EQ(telnet->Connect(), S_OK) << bEmpty;
    }
    EXPECT_EQ(server.Finish(), "");
}

} // namespace
} // namespace lanvex

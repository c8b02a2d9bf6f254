// Transport exceptions: message formatting and the errno-to-Winsock mapping.
#include "lanvex/net/transport/socket_error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lanvex
{

namespace
{

char* CopyMessage(const char* pszText)
{
    if (pszText == nullptr)
        return nullptr;
    const size_t nLength = std::strlen(pszText);
    char* pszCopy = new char[nLength + 1];
    std::memcpy(pszCopy, pszText, nLength + 1);
    return pszCopy;
}

} // namespace

CExpComm::CExpComm(const CExpComm& other)
    : m_nError(other.m_nError), m_pszMessage(CopyMessage(other.m_pszMessage))
{
}

CExpComm& CExpComm::operator=(const CExpComm& other)
{
    if (this != &other)
    {
        char* pszCopy = CopyMessage(other.m_pszMessage);
        delete[] m_pszMessage;
        m_pszMessage = pszCopy;
        m_nError = other.m_nError;
    }
    return *this;
}

CExpComm::~CExpComm()
{
    delete[] m_pszMessage;
}

CExpSocket::CExpSocket(int32_t nError)
{
    m_nError = nError;
    m_pszMessage = new char[kMessageCapacity];
    const char* pszFormat = "Error Socket : %d";
    switch (nError)
    {
    case kWsaEConnReset:
        pszFormat = "Error connection reset : %d";
        break;
    case kWsaEShutdown:
        pszFormat = "Error connection shutdown : %d";
        break;
    case kWsaEConnRefused:
        pszFormat = "Error connection refused : %d";
        break;
    default:
        break;
    }
    std::snprintf(m_pszMessage, kMessageCapacity, pszFormat, static_cast<int>(nError));
}

int32_t WinsockErrorFromErrno(int nErrno)
{
    // The Winsock numbers of the BSD socket errors, so that messages and codes match the
    // platform the components were designed on.
    switch (nErrno)
    {
    case EINTR:
        return 10004;
    case EBADF:
    case ENOTSOCK:
        return kWsaENotSock;
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case EWOULDBLOCK:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case EMSGSIZE:
        return 10040;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return kWsaEConnReset;
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return kWsaEShutdown;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return kWsaEConnRefused;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default:
        return nErrno;
    }
}

} // namespace lanvex

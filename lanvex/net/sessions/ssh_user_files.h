// Where an SSH login finds the account's files and agent; shared by the SSH and SFTP sessions.
#pragma once

#include <cstddef>
#include <string>

namespace lanvex
{

// The folder holding known_hosts and the user's keys. HOME comes first, as for OpenSSH's tools,
// so that a changed HOME (tests, sandboxes) never touches the account's own files.
std::string UserSshDirectory();

// libssh's passphrase callback: encrypted keys are skipped rather than asked for, since nobody
// may be there to type a passphrase.
int NoPassphrase(const char* pszPrompt, char* pszBuffer, size_t nLength, int nEcho, int nVerify,
                 void* pUserData);

// The agent's socket at pszPath, connected without blocking (a listener whose queue is full would
// otherwise hold the connect) and then made blocking, as libssh's own would be; -1 when there is
// none.
int ConnectAgentSocket(const char* pszPath);

} // namespace lanvex

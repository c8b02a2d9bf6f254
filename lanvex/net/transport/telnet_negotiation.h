// Builds the reply to one burst of a telnet server's opening option negotiation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lanvex
{

namespace telnet
{
constexpr uint8_t kSE = 240;
constexpr uint8_t kSB = 250;
constexpr uint8_t kWILL = 251;
constexpr uint8_t kWONT = 252;
constexpr uint8_t kDO = 253;
constexpr uint8_t kDONT = 254;
constexpr uint8_t kIAC = 255;
constexpr uint8_t kOptEcho = 1;
constexpr uint8_t kOptSuppressGoAhead = 3;
constexpr uint8_t kOptWindowSize = 31;
} // namespace telnet

// One burst is read with this many bytes at most.
constexpr int kNegotiationBurst = 50;
// Worst case of one burst: a three-byte answer at every start position, plus the terminal
// type answer.
constexpr int kTerminalTypeAnswerLength = 8;
// The window reported to a host that asks for it: wide enough that ps prints whole command
// lines (a process's command fills 255 characters of a row, behind some 70 of columns).
constexpr uint16_t kWindowColumns = 512;
constexpr uint16_t kWindowRows = 24;
constexpr int kWindowSizeAnswerLength = 9;
constexpr int kNegotiationReplyCapacity =
    (kNegotiationBurst - 2) * 3 + kTerminalTypeAnswerLength + kWindowSizeAnswerLength;

// Writes the reply to pReply (room for nCapacity bytes) and returns its length. Every
// IAC-command triple is answered where it starts, one byte at a time: DO WINDOW-SIZE gets WILL
// (so the host's programs print full-width lines); every other DO, and every DONT, gets WONT;
// WILL gets DO for ECHO and SUPPRESS-GO-AHEAD and DONT for any other option (agreeing to an
// option the client cannot run, such as authentication, leaves the server waiting for ever);
// every other command is sent back as received. A burst holding SE anywhere after its first
// byte also gets the terminal-type answer "IS vt100". A burst that asked DO WINDOW-SIZE ends
// with one window-size report (kWindowColumns by kWindowRows). The reply never exceeds
// nCapacity.
size_t BuildNegotiationReply(const uint8_t* pBurst, size_t nBurst, uint8_t* pReply,
                             size_t nCapacity);

} // namespace lanvex

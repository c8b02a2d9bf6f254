// One watched host: the fixed 252-byte record that is also the record layout of psvigil.cfg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

// Kept as a plain byte image: the configuration file stores it raw, little-endian.
struct HostSettings
{
    int32_t ManualRefresh = 0;
    int32_t KeepConnectionOpen = 1;
    int32_t RefreshSeconds = 10;
    char Address[128] = {};
    char Username[20] = {};
    char Password[20] = {};
    int32_t Port = 23;
    char Command[40] = "ps auxw | grep %s";
    int32_t Flavour = 0;
    int32_t FilterMode = 0;
    char FilterExpression[20] = {};
};

static_assert(std::is_standard_layout_v<HostSettings>);
static_assert(std::is_trivially_copyable_v<HostSettings>);
static_assert(sizeof(HostSettings) == 252);
static_assert(offsetof(HostSettings, ManualRefresh) == 0);
static_assert(offsetof(HostSettings, KeepConnectionOpen) == 4);
static_assert(offsetof(HostSettings, RefreshSeconds) == 8);
static_assert(offsetof(HostSettings, Address) == 12 && sizeof(HostSettings::Address) == 128);
static_assert(offsetof(HostSettings, Username) == 140 && sizeof(HostSettings::Username) == 20);
static_assert(offsetof(HostSettings, Password) == 160 && sizeof(HostSettings::Password) == 20);
static_assert(offsetof(HostSettings, Port) == 180);
static_assert(offsetof(HostSettings, Command) == 184 && sizeof(HostSettings::Command) == 40);
static_assert(offsetof(HostSettings, Flavour) == 224);
static_assert(offsetof(HostSettings, FilterMode) == 228);
static_assert(offsetof(HostSettings, FilterExpression) == 232 &&
              sizeof(HostSettings::FilterExpression) == 20);

// Flavour values. Earlier versions read every nonzero value as SysV and never wrote 2, so a
// host record set to POSIX still makes sense to them (ps -ef).
constexpr int32_t kFlavourBsd = 0;
constexpr int32_t kFlavourSysV = 1;
constexpr int32_t kFlavourPosix = 2;

// The flavour a record's value means: BSD, POSIX, or SysV for every other value.
constexpr int32_t EffectiveFlavour(int32_t flavour)
{
    return flavour == kFlavourBsd || flavour == kFlavourPosix ? flavour : kFlavourSysV;
}
// "BSD", "SysV" or "POSIX (-o)", as the Settings page names them.
const char* FlavourLabel(int32_t flavour);

// The command of each flavour; each ends in one blank.
inline constexpr char kBsdPsCommand[] = "ps auxw ";
inline constexpr char kSysVPsCommand[] = "ps -ef ";
// Asks for exactly the fields the grid shows, in this order.
inline constexpr char kPosixPsCommand[] =
    "ps -e -o user,pid,ppid,pcpu,pmem,vsz,rss,stat,tty,stime,time,args ";

// FilterMode values.
constexpr int32_t kFilterShowAll = 0;
constexpr int32_t kFilterByUser = 1;
constexpr int32_t kFilterByExpression = 2;

// Ranges accepted by the Host Options pages.
constexpr int32_t kPortMin = 2;
constexpr int32_t kPortMax = 20000;
constexpr int32_t kRefreshMin = 1;
constexpr int32_t kRefreshMax = 12000;

// Builds the ps command line for the host and returns it whole; the record's Command field
// keeps as much of it as fits (the POSIX line is longer than the field).
std::string BuildCommand(HostSettings& host);

// Setters that never write past a field and never split a UTF-8 character.
void SetAddress(HostSettings& host, std::string_view text);
void SetUsername(HostSettings& host, std::string_view text);
void SetPassword(HostSettings& host, std::string_view text);
void SetFilterExpression(HostSettings& host, std::string_view text);

// The text of a field up to its terminator, or its whole width when a record read from disk
// holds none.
template <std::size_t N> std::string_view FieldText(const char (&field)[N])
{
    std::size_t n = 0;
    while (n < N && field[n] != '\0')
        ++n;
    return std::string_view(field, n);
}

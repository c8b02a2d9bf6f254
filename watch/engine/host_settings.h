// One watched host: the fixed 252-byte record that is also the record layout of psvigil.cfg.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Flavour values; every nonzero Flavour reads as SysV.
constexpr int32_t kFlavourBsd = 0;
constexpr int32_t kFlavourSysV = 1;

// FilterMode values.
constexpr int32_t kFilterShowAll = 0;
constexpr int32_t kFilterByUser = 1;
constexpr int32_t kFilterByExpression = 2;

// Ranges accepted by the Host Options pages.
constexpr int32_t kPortMin = 2;
constexpr int32_t kPortMax = 20000;
constexpr int32_t kRefreshMin = 1;
constexpr int32_t kRefreshMax = 12000;

// Writes the ps command line for the host into its Command field.
void BuildCommand(HostSettings& host);

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

// The host record's command line and its bounded text setters.
#include "watch/engine/host_settings.h"

#include "watch/engine/text_field.h"

#include <cstring>

namespace
{
// Appends text behind what the field already holds, never past its last byte.
template <std::size_t N> void Append(char (&field)[N], std::string_view text)
{
    const std::size_t used = FieldText(field).size();
    if (used >= N - 1)
        return;
    const std::size_t n = Utf8FitLength(text, N - 1 - used);
    std::memcpy(field + used, text.data(), n);
    field[used + n] = '\0';
}
} // namespace

void BuildCommand(HostSettings& host)
{
    CopyToField(host.Command, host.Flavour == kFlavourBsd ? "ps auxw " : "ps -ef ");
    if (host.FilterMode != kFilterShowAll)
        Append(host.Command, "| grep ");
    // Fields read from a file may lack a terminator; FieldText stops at the field's end.
    if (host.FilterMode == kFilterByUser)
        Append(host.Command, FieldText(host.Username));
    else if (host.FilterMode == kFilterByExpression)
        Append(host.Command, FieldText(host.FilterExpression));
}

void SetAddress(HostSettings& host, std::string_view text) { CopyToField(host.Address, text); }
void SetUsername(HostSettings& host, std::string_view text) { CopyToField(host.Username, text); }
void SetPassword(HostSettings& host, std::string_view text) { CopyToField(host.Password, text); }
void SetFilterExpression(HostSettings& host, std::string_view text)
{
    CopyToField(host.FilterExpression, text);
}

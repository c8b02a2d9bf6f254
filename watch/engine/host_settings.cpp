// The host record's command line and its bounded text setters.
#include "watch/engine/host_settings.h"

#include "watch/engine/text_field.h"

const char* FlavourLabel(int32_t flavour)
{
    switch (EffectiveFlavour(flavour))
    {
    case kFlavourBsd:
        return "BSD";
    case kFlavourPosix:
        return "POSIX (-o)";
    default:
        return "SysV";
    }
}

std::string BuildCommand(HostSettings& host)
{
    const int32_t flavour = EffectiveFlavour(host.Flavour);
    std::string line = flavour == kFlavourBsd     ? kBsdPsCommand
                       : flavour == kFlavourPosix ? kPosixPsCommand
                                                  : kSysVPsCommand;
    if (host.FilterMode != kFilterShowAll)
        line += "| grep ";
    // Fields read from a file may lack a terminator; FieldText stops at the field's end.
    if (host.FilterMode == kFilterByUser)
        line += FieldText(host.Username);
    else if (host.FilterMode == kFilterByExpression)
        line += FieldText(host.FilterExpression);
    CopyToField(host.Command, line);
    return line;
}

void SetAddress(HostSettings& host, std::string_view text)
{
    CopyToField(host.Address, text);
}
void SetUsername(HostSettings& host, std::string_view text)
{
    CopyToField(host.Username, text);
}
void SetPassword(HostSettings& host, std::string_view text)
{
    CopyToField(host.Password, text);
}
void SetFilterExpression(HostSettings& host, std::string_view text)
{
    CopyToField(host.FilterExpression, text);
}

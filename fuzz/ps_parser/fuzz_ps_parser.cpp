// Feeds arbitrary host replies to the ps parser; the first byte picks flavour and filter.
#include "watch/engine/ps_parser.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t flavour = data[0] & 3;
    const int32_t filterMode = (data[0] >> 2) & 3;
    // Exactly sized, so any write past the reply is caught.
    std::vector<char> buffer(data + 1, data + size);
    COwningPtrArray<ProcessRow> rows;
    ParsePsReply(rows, buffer.empty() ? nullptr : buffer.data(),
                 static_cast<int32_t>(buffer.size()), flavour, filterMode);
    for (int32_t i = 0; i < rows.GetSize(); ++i)
    {
        const ProcessRow* row = rows.GetAt(i);
        // Every field must hold its terminator.
        if (!std::memchr(row->User, 0, sizeof row->User) ||
            !std::memchr(row->Command, 0, sizeof row->Command) ||
            !std::memchr(row->StartTime, 0, sizeof row->StartTime) ||
            !std::memchr(row->Rss, 0, sizeof row->Rss) ||
            !std::memchr(row->ProcessState, 0, sizeof row->ProcessState) ||
            !std::memchr(row->PpidText, 0, sizeof row->PpidText))
            __builtin_trap();
    }
    return 0;
}

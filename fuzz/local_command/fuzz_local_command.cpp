// Feeds arbitrary command lines (a record from a damaged psvigil.cfg) to the split that decides
// what this computer runs, and arbitrary bytes to the texts handed to Prometheus and JSON.
#include "watch/cli/export_text.h"
#include "watch/engine/local_command.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LocalCommand command;
    if (SplitLocalCommand(text, command))
    {
        // Only ps runs, with option words free of shell characters.
        if (command.Ps.empty() || command.Ps.front() != "ps")
            __builtin_trap();
        for (const std::string& word : command.Ps)
        {
            if (word.find_first_of(" ;|&$`<>()'\"\\\n") != std::string::npos)
                __builtin_trap();
        }
    }
    const std::string reply = FrameLocalReply(text, text);
    if (reply.size() < 2 * size)
        __builtin_trap();
    const std::string valid = ValidUtf8(text);
    if (ValidUtf8(valid) != valid)
        __builtin_trap();
    const std::string_view cut = CutUtf8(text, size / 2);
    if (cut.size() > size / 2)
        __builtin_trap();
    (void)JsonString(text);
    (void)LabelValue(text);
    return 0;
}

// Feeds arbitrary bytes to the alert rules reader: what it keeps must write out and read back
// the same, and every kept rule must evaluate.
#include "watch/engine/alert_evaluator.h"
#include "watch/engine/alert_rules.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const AlertRules read = ParseAlertRules(text);
    const AlertRules again = ParseAlertRules(FormatAlertRules(read.Rules));
    if (!again.Problems.empty() || again.Rules.size() != read.Rules.size())
        __builtin_trap();
    for (std::size_t i = 0; i < read.Rules.size(); ++i)
    {
        const AlertRule& a = read.Rules[i];
        const AlertRule& b = again.Rules[i];
        if (a.Host != b.Host || a.Name != b.Name || a.Kind != b.Kind || a.Command != b.Command ||
            a.Refreshes != b.Refreshes || !(a.Above == b.Above))
            __builtin_trap();
    }
    CAlertEvaluator evaluator("h", read.Rules);
    const std::string command(text.substr(0, 256));
    const std::vector<ProcessSample> samples = {{1, "u", command, 50.0, 100.0}};
    evaluator.Feed({}, 0);
    evaluator.Feed(samples, 1);
    evaluator.Feed({}, 2);
    return 0;
}

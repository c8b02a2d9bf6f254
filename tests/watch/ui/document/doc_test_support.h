// Helpers of the document tests: snapshot rows, a scratch directory, feeding the engine.
#pragma once

#include "watch/engine/text_field.h"
#include "watch/ui/document/psvigil_doc.h"

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <unistd.h>

inline ProcessRow MakeProcess(int32_t pid, const std::string& user = "user",
                              const std::string& command = "cmd")
{
    ProcessRow row;
    CopyToField(row.User, user);
    CopyToField(row.PidText, std::to_string(pid));
    row.Pid = pid;
    CopyToField(row.CpuUsage, "0.0");
    CopyToField(row.Term, "?");
    CopyToField(row.StartTime, "10:00");
    CopyToField(row.CpuTime, "0:00");
    CopyToField(row.Command, command);
    return row;
}

// Replaces the engine's snapshot as a parse would, then merges it.
inline void FeedAndMerge(CPsvigilDoc& doc, std::initializer_list<ProcessRow> rows)
{
    {
        CAutoLock lock(doc.Engine().GetLock());
        doc.Engine().GetSnapshot().RemoveAll();
        for (const ProcessRow& row : rows)
            doc.Engine().GetSnapshot().Add(new ProcessRow(row));
    }
    doc.MergeSnapshot();
}

class CScratchDir
{
  public:
    CScratchDir()
    {
        char pattern[] = "/tmp/doctestXXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~CScratchDir() { std::filesystem::remove_all(m_path); }
    std::string File(const char* name) const { return (m_path / name).string(); }

  private:
    std::filesystem::path m_path;
};

// The "FTP File Operation" dialog: edits the description of one file operation, modally.
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace lanvex
{

// What the dialog shows and edits; the component's properties, one for one.
struct FileOperationFields
{
    std::u16string Server;
    std::u16string Username;
    std::u16string Password;
    std::u16string From;
    std::u16string To;
    LONG ShowDialog = 0;
    LONG FilesOnly = 0;
    LONG CreateDestDirectories = 1;
    SHORT Function = 1; // 1 copy, 2 move, anything else delete
};

// Runs the dialog modally on the calling thread. S_OK when the user pressed OK (fields then hold
// what the controls held), S_FALSE for any other end and whenever no dialog can be shown here:
// no display, a thread other than the one running the application's widgets. Fields are
// untouched unless the result is S_OK.
HRESULT RunFileOperationDialog(FileOperationFields& fields);

class CFileOperationStatus;

// A progress window with a Cancel button while an operation runs, where one can be shown;
// elsewhere (or when not asked for) it shows nothing and never cancels.
class CFileOperationProgress
{
  public:
    explicit CFileOperationProgress(bool bShow);
    ~CFileOperationProgress();
    CFileOperationProgress(const CFileOperationProgress&) = delete;
    CFileOperationProgress& operator=(const CFileOperationProgress&) = delete;

    // Runs work and returns its result. With a window, work runs on a thread of its own while
    // the window shows status and stays responsive; Cancel there calls status.Cancel() at once.
    // Without one, work runs on the calling thread.
    HRESULT Run(CFileOperationStatus& status, const std::function<HRESULT()>& work);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// The window's text for a status: the file, "n of N files", bytes and rate.
struct FileOperationProgressText
{
    std::string Label;
    int Permille = -1; // of the current file; -1 when its size is unknown
};
struct FileOperationProgressSnapshot
{
    std::string Path;
    int64_t Done = 0, Found = 0, Bytes = 0, Size = -1;
    double BytesPerSecond = 0;
};
FileOperationProgressText DescribeProgress(const FileOperationProgressSnapshot& now);

// Where a dialog can run, from what the calling process and thread look like.
enum class DialogHost
{
    None,      // no dialog here: S_FALSE at once
    Running,   // the host's own application, on its GUI thread
    OwnChosen, // an application of our own on the display platform QT_QPA_PLATFORM names
    OwnX       // an application of our own on the X display DISPLAY names
};

struct DialogHostFacts
{
    bool ApplicationExists = false;     // a Qt application object is alive
    bool ApplicationHasWidgets = false; // ... and it can show widgets
    bool OnApplicationThread = false;   // ... and this is its thread
    bool OnMainThread = false;          // the process's first thread
    bool PlatformChosen = false;        // QT_QPA_PLATFORM names an installed platform that shows
                                        // windows to someone (not offscreen), other than xcb
    bool XDisplayReachable = false;     // DISPLAY names an X server that takes connections
};

DialogHost ChooseDialogHost(const DialogHostFacts& facts);

// Whether the X display named like DISPLAY (":0", "unix:1.0", "host:10.0") can be reached;
// a local one is tried on its socket, one on another host on its TCP port.
bool LocalXDisplayReachable(const std::string& display);

} // namespace lanvex

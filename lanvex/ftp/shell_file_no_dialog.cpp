// The file-operation dialog in a build without Qt Widgets: no dialog can be shown.
#include "lanvex/ftp/shell_file_dialog.h"

namespace lanvex
{

HRESULT RunFileOperationDialog(FileOperationFields&)
{
    return S_FALSE;
}

struct CFileOperationProgress::Impl
{
};

CFileOperationProgress::CFileOperationProgress(bool) {}

CFileOperationProgress::~CFileOperationProgress() = default;

bool CFileOperationProgress::Next(const std::string&)
{
    return true;
}

} // namespace lanvex

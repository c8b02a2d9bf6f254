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

HRESULT CFileOperationProgress::Run(CFileOperationStatus&, const std::function<HRESULT()>& work)
{
    return work();
}

} // namespace lanvex

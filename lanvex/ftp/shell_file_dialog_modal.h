// The file operation dialog shown modally over an owner window; only the dialog's own files use it.
#pragma once

#include "lanvex/ftp/shell_file_dialog.h"

class QWidget;

namespace lanvex
{

// S_OK with fields changed when the user accepts, S_FALSE (fields untouched) when cancelled.
HRESULT RunModally(QWidget* pOwner, FileOperationFields& fields);

} // namespace lanvex

// The component runtime in one include: everything component code and its clients use.
#pragma once

#include "platform/com/activation.h"
#include "platform/com/apartment.h"
#include "platform/com/bstr.h"
#include "platform/com/conversion.h"
#include "platform/com/dispatch_impl.h"
#include "platform/com/error_info.h"
#include "platform/com/guid.h"
#include "platform/com/hresult.h"
#include "platform/com/module_check.h"
#include "platform/com/registry.h"
#include "platform/com/task_memory.h"
#include "platform/com/typelib.h"
#include "platform/com/typelib_model.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/com/wintypes.h"

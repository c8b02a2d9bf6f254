// The hive file: where it lives, reading it, and atomic locked rewrites (with per-thread
// transactions).
#pragma once

#include "platform/com/registry_hive.h"

#include <functional>
#include <string>

// COMRT_REGISTRY, else $XDG_DATA_HOME/comrt/registry.reg, else ~/.local/share/comrt/registry.reg.
std::string RegistryStorePath();

// Runs fn over the current hive (the thread's transaction copy if one is open). A damaged file:
// ERROR_REGISTRY_CORRUPT without calling fn, and ComrtLastErrorText() tells where.
LONG RegistryStoreRead(const std::function<LONG(const CRegistryHive&)>& fn);
// Runs fn over a fresh copy of the hive read under the exclusive lock and, when fn returns
// ERROR_SUCCESS and says it changed something, writes the copy back atomically before unlocking.
// Inside a transaction, fn works on the transaction's copy and nothing is written yet.
LONG RegistryStoreWrite(const std::function<LONG(CRegistryHive&, bool* changed)>& fn);

// How many attempts to change the hive file have failed in this process so far.
unsigned long RegistryStoreWriteFailures();

// Transactions (CRegTransaction uses these); they nest per thread.
LONG RegistryStoreBegin();
LONG RegistryStoreCommit();
void RegistryStoreAbort();

// Registers the watch log type (".pvg") with the desktop: a MIME type and an application entry.
#pragma once

#include <QString>

// The MIME type of watch logs; its comment is the type name shown by file managers.
inline constexpr char kWatchLogMimeType[] = "application/x-psvigil-document";

// Writes, under dataDir (normally ~/.local/share), mime/packages/psvigil.xml (the type and its
// "*.pvg" glob), applications/psvigil.desktop (opening those files with programPath) and
// the application icon under icons/hicolor. Files already holding the same bytes are left
// alone, so repeating it at every start costs nothing; the desktop's caches are refreshed in
// the background when something changed. Returns false when a file could not be written;
// callers stay silent about it.
// A program installed in a prefix that brings its own entry (<bin>/../share/applications/
// psvigil.desktop, as a package does) writes nothing: a user entry would hide the prefix's.
// Files this program wrote there earlier (the very bytes it would write) are removed instead.
bool RegisterDocumentType(const QString& dataDir, const QString& programPath);

// True when the prefix programPath is installed in has its own psvigil.desktop.
bool PrefixHasDesktopEntry(const QString& programPath);

// The same under the user's data directory, for this program.
bool RegisterDocumentType();

// The Exec= value that runs programPath with --desktop on one file, quoted as desktop entries
// require.
QString DesktopExecLine(const QString& programPath);

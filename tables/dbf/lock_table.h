// One OS handle per file per process, with the process's own lock table above it.
//
// Every table, memo and index file is opened through OpenSharedFile. All views
// of one file share one OS handle; each view is a lock owner of its own, so two
// views (two DBServers on one table) conflict as two programs would: the
// conflict is found in this table without asking the OS, and the OS holds each
// range once, for the whole process. Closing one view never drops another
// view's locks (closing a POSIX descriptor would drop them all). Share modes
// between views of one process are checked here as Windows would. One thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace tables {

// A view behaves as a platform::File of its own. A read-only view opened first
// still gets a read-write handle when the file allows it, so that a later
// read-write view of the same file can share it.
platform::OsStatus OpenSharedFile(std::string_view path, platform::Access access,
                                  platform::Share share, platform::Disposition disposition,
                                  std::unique_ptr<platform::File>* out);

// The key under which a path's handle is shared (tests, diagnostics).
std::string SharedFileKey(std::string_view path);

}  // namespace tables

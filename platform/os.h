// SPDX-License-Identifier: Apache-2.0
// What the operating system provides: the executable's path, files and the clock.
// Thread safety: every routine here may be called from any thread. Each file routine works on
// a descriptor of its own; appends of whole lines by several threads to one file interleave
// line by line.
#pragma once

#include "platform/export.h"
#include "platform/types.h"

namespace plat {

// The full path of the process's executable (/proc/self/exe).
PLAT_API AnsiString ExecutablePath();

// The host folder: where the driver writes its diagnostic log and Z data file and reads the
// host's files. By default the folder of the executable. A host that keeps them elsewhere sets
// it before it loads the package, which names the folder to the host (DsDirCad) when it is
// loaded. An empty folder returns to the default; a trailing separator is dropped.
PLAT_API AnsiString HostFolder();
PLAT_API void SetHostFolder(const AnsiString& folder);
// The name of the driver's diagnostic log for the month of when, in the host folder:
// "impdebugMMYY.txt".
PLAT_API AnsiString DriverLogName(TDateTime when);

// Folder of a path without the trailing separator ("/a/b/c" -> "/a/b").
PLAT_API AnsiString ExtractFileDir(const AnsiString& path);
// The short (8.3) form of a path. Linux has no short names: the path itself.
PLAT_API AnsiString ShortPathName(const AnsiString& path);
// The path separator, "/".
constexpr char PathDelim = '/';

PLAT_API bool FileExists(const AnsiString& path);
// Deletes a file; a missing file is no error (answers false). Other failures raise EInOutError.
PLAT_API bool DeleteFile(const AnsiString& path);

// Appends text to a file, creating it when missing. The text is written with one write and
// checked; a short write is undone, so no partial line stays in the file. Failures to open,
// write or close raise EInOutError naming the file and the reason.
PLAT_API void AppendToTextFile(const AnsiString& path, const AnsiString& text);
// Writes a whole file atomically: a temporary file beside it, flushed, then renamed over the
// target. Failures raise EInOutError and leave neither a partial target nor the temporary file.
// Each write first removes the temporaries of the same target that writers no longer running
// left behind (a process killed during its write), see RemoveStaleTemporaries.
PLAT_API void WriteFileAtomic(const AnsiString& path, const std::string& bytes);
// WriteFileAtomic for a file the caller goes on appending to: answers the new file's
// descriptor, open for appending (the caller closes it), so that no second open after the
// rename can fail and leave the caller writing to the replaced file. Failures raise as
// WriteFileAtomic's and leave the old file in place.
PLAT_API int ReplaceFileKeepingItOpen(const AnsiString& path, const std::string& bytes);
// Removes the temporaries "<path>.tmp.<process id>" of WriteFileAtomic whose process no longer
// runs: regular files of this user only, named exactly so; nothing else in the folder is
// touched, nor the temporary of a writer still running. A temporary that cannot be removed is
// left for a later write.
PLAT_API void RemoveStaleTemporaries(const AnsiString& path);
// Reads a whole file; EInOutError when it cannot be read.
PLAT_API std::string ReadWholeFile(const AnsiString& path);

// The clock: local date and time now (tests may replace it, platform/testing/hooks.h).
PLAT_API TDateTime Now();
PLAT_API TDateTime Date();  // today at 00:00

}  // namespace plat

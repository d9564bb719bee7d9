// What the operating system provides: the executable's path, files and the clock.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/types.h"

namespace plat {

// The full path of the process's executable (/proc/self/exe).
AnsiString ExecutablePath();
// Tests point the executable path at a folder of their own, so that the log and the host files
// land there. An empty path returns to the real one.
void SetExecutablePathForTesting(const AnsiString& path);
// Changes whenever the executable path may have changed (SetExecutablePathForTesting), so that
// what a caller derived from the path can be kept until then.
uint64_t ExecutablePathVersion();

// Folder of a path without the trailing separator ("/a/b/c" -> "/a/b").
AnsiString ExtractFileDir(const AnsiString& path);
// The short (8.3) form of a path. Linux has no short names: the path itself.
AnsiString ShortPathName(const AnsiString& path);
// The path separator, "/".
constexpr char PathDelim = '/';

bool FileExists(const AnsiString& path);
// Deletes a file; a missing file is no error (answers false). Other failures raise EInOutError.
bool DeleteFile(const AnsiString& path);

// Appends text to a file, creating it when missing. The text is written with one write and
// checked; a short write is undone, so no partial line stays in the file. Failures to open,
// write or close raise EInOutError naming the file and the reason.
void AppendToTextFile(const AnsiString& path, const AnsiString& text);
// Test hook: the n-th AppendToTextFile from now (1-based) writes only half of its text, as a
// full disk would, and so takes the short-write path: the part written is taken back and
// EInOutError "... (forced failure)" is raised. Counts once; 0 or less switches it off.
void SetAppendFailureForTesting(int n);
// Writes a whole file atomically: a temporary file beside it, flushed, then renamed over the
// target. Failures raise EInOutError and leave neither a partial target nor the temporary file.
// Each write first removes the temporaries of the same target that writers no longer running
// left behind (a process killed during its write), see RemoveStaleTemporaries.
void WriteFileAtomic(const AnsiString& path, const std::string& bytes);
// Removes the temporaries "<path>.tmp.<process id>" of WriteFileAtomic whose process no longer
// runs: regular files of this user only, named exactly so; nothing else in the folder is
// touched, nor the temporary of a writer still running. A temporary that cannot be removed is
// left for a later write.
void RemoveStaleTemporaries(const AnsiString& path);
// Reads a whole file; EInOutError when it cannot be read.
std::string ReadWholeFile(const AnsiString& path);

// The clock: local date and time now. Tests may replace it; an empty function restores it.
TDateTime Now();
TDateTime Date();  // today at 00:00
void SetClockForTesting(std::function<TDateTime()> clock);

}  // namespace plat

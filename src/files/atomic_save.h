#pragma once
// The one way every export and save writes a file: a temporary beside the
// target, renamed over it only when everything was written; and the checks
// and appends around it. The calls into the file system live in the
// platform's own file (atomic_save_posix.cpp).
#include <cstddef>
#include <string>

// Why a file the user named must not be written through `path`: a symbolic
// link owned by another user, or any link in a folder that others may write
// (a sticky temp folder, where anyone can plant one). Each link of a chain
// is looked at. Empty when nothing stands in the way.
std::string LinkProblem(const std::string &path);

// Writes the bytes to path through a temporary file in the same folder that
// is renamed over the target only when everything was written. On failure an
// existing file stays as it was and no temporary is left behind. A path
// with a LinkProblem is refused.
bool WriteFileReplacing(const std::string &path, const void *data, size_t size, std::string *error = nullptr);
inline bool WriteFileReplacing(const std::string &path, const std::string &text, std::string *error = nullptr)
{
    return WriteFileReplacing(path, text.data(), text.size(), error);
}

// Writes `bytes` as the file `name` in `dir`: into a new temporary file
// (0600) in the same folder, renamed over the name once all is written. A
// symbolic link at the name is replaced, never followed; on failure the file
// that was there stays as it was and no temporary is left behind. `durable`
// false leaves out the sync before the rename (a crash may then leave the
// file before it, or an empty one, in its place).
bool WritePrivateFile(const std::string &dir, const std::string &name, const std::string &bytes,
                      std::string *error = nullptr, bool durable = true);

// Why a file cannot be written at `path`, checked without creating it; empty
// when nothing stands in the way that can be seen beforehand (a folder, a
// file or folder without write permission, a missing folder).
std::string OutFileProblem(const std::string &path);

// Appends the bytes to the file at path, which must exist: a file removed in
// the meantime is not made again. False when it could not be opened or
// written in full.
bool AppendToFile(const std::string &path, const std::string &bytes);

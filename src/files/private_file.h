#pragma once
// Files and folders only this user may use: the bench key and its folder, the
// records file, the witness of a store's newest record. The platform's own
// file (private_file_posix.cpp) makes and checks them; a failure carries the
// system's reason text for the caller's message.
#include <cstddef>
#include <string>

enum class EOwnFolder {
    Private,    // a real folder of this user that nobody else may write
    NotPrivate, // a link, not a folder, another user's, or others may write it
    Missing,    // no such folder
    Unreadable, // it could not be looked at (reason set)
};
// What stands at `dir`, looked at without following a link.
EOwnFolder InspectOwnFolder(const std::string &dir, std::string &reason);
// Makes the folder `dir` (its parent must exist) that only this user may use
// (0700); one that exists already is fine. False with the reason.
bool MakeOwnFolder(const std::string &dir, std::string &reason);

enum class ECreateOnce {
    Done,       // the file is at path: written now, or made meanwhile by another
    TempFailed, // the temporary could not be created (reason set)
    Failed,     // it could not be written or linked in (reason set)
};
// Writes the bytes to a new file `temp` only this user may read (0600, never
// through a link), and links it in at `path` without replacing what is there:
// a file made meanwhile at path by another program wins. `temp` is gone after.
ECreateOnce CreateFileOnce(const std::string &path, const std::string &temp, const void *data, size_t size,
                           std::string &reason);

enum class EPrivateRead {
    Ok,
    Missing,    // no such file (reason set)
    Unreadable, // it could not be opened (reason set)
    NotPrivate, // not a regular file of this user only this user may read, or not `size` bytes long
    Short,      // fewer than `size` bytes could be read
};
// Reads a file of exactly `size` bytes into data, opened without following a
// link, after checking that it is a regular file of this user that nobody
// else may read or write.
EPrivateRead ReadPrivateFile(const std::string &path, void *data, size_t size, std::string &reason);

enum class ECreateEmpty {
    Created,
    Exists, // something is at the name already
    Failed, // reason set
};
// Creates an empty file at path only this user may read (0600), never through
// a link and never replacing anything.
ECreateEmpty CreateEmptyPrivateFile(const std::string &path, std::string &reason);

enum class ESmallFile {
    Ok,
    Missing,    // no such file (reason set)
    Unreadable, // it could not be opened (reason set)
    NotSmall,   // not a regular file, or more than `limit` bytes
};
// The bytes of a regular file of at most `limit` bytes, opened without
// following a link. A read that fails leaves bytes empty.
ESmallFile ReadSmallFile(const std::string &path, size_t limit, std::string &bytes, std::string &reason);

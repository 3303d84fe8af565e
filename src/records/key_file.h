#pragma once
// A key's file on disk (the bench key, the organisation key): its folder
// made and checked, the file made once and never replaced, and read only
// when it is a regular file of this user that nobody else may read, of the
// key's exact size. The platform's own file (key_file_posix.cpp) does it;
// every failure says what is wrong with the file, by its path.
#include <cstddef>

#include <QString>

// The folder of a key: made (0700) when missing; an existing one must be a
// real folder of this user that nobody else may write.
bool KeyFolderSafe(const QString &dir, QString &error);

// True when nothing at all stands at path (a dangling link is something).
bool KeyFileMissing(const QString &path);

// Writes the bytes to the new file `tmp` (0600, never through a link, synced)
// and links it in at path without replacing what is there; tmp is gone
// after. A file made at path meanwhile by another program is fine only when
// `madeMeanwhileIsFine`; otherwise it is refused ("already exists").
bool WriteKeyFileOnce(const QString &path, const QString &tmp, const unsigned char *data, size_t size,
                      bool madeMeanwhileIsFine, QString &error);

// Reads exactly `size` bytes from the key file at path, after checking it
// is not a link, is a regular file of this user, mode 0600 or stricter, and
// `size` bytes long.
bool ReadKeyFile(const QString &path, unsigned char *data, size_t size, QString &error);

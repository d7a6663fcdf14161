#pragma once

#include <QString>
#include <cstddef>
#include <initializer_list>

// Each function opens the folder of its path once and does all its work
// relative to that descriptor; in this run's private folder (PrivateTempFolder)
// it uses the descriptor held for the run, so a folder someone renamed away
// and replaced is never written or read through its path.

// Replaces the file at sPath with the given bytes without ever leaving readers
// without a file: the bytes go to a new file in the same folder, which is then
// renamed over the old one. A link at sPath is replaced, never followed. With
// bKeepStamps, the new file takes the old file's permission bits and its
// last-access and last-write times. Returns 0, or the errno of the failure, in
// which case the old file is untouched.
int ReplaceFileContents(const QString &sPath, const void *pData, std::size_t lSize, bool bKeepStamps);

// The same for a file made of several pieces, written one after the other.
struct FilePiece
{
    const void *pData;
    std::size_t lSize;
};
int ReplaceFileContents(const QString &sPath, std::initializer_list<FilePiece> pieces, bool bKeepStamps);

// Opens a file of this user's own for reading, never through a link and never
// waiting on a pipe or a device: anything else at the path (a link, a pipe, a
// folder, another user's file) counts as missing. The descriptor (to be
// closed by the caller), or -1 with errno set (ENOENT for what counts as missing).
int OpenOwnFile(const QString &sPath);

// Makes an empty file at sPath when nothing is there, never through a link.
void CreateEmptyFile(const QString &sPath);

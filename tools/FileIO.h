// Whole-file input and output for the command-line filter. Every function
// returns 0 or the errno value of the failure, so that callers can name the
// file in their message.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

// Appends everything readable from Fd to Bytes, in large reads.
int ReadAll(int Fd, std::string& Bytes);
// The whole of the file at Path; EISDIR for a directory.
int ReadWholeFile(const std::string& Path, std::string& Bytes);
// All of Bytes to Fd, retrying short writes.
int WriteAll(int Fd, std::string_view Bytes);

// Replaces the contents of the file at Path (following symbolic links) by
// Bytes, atomically: a temporary file in the same folder gets the old file's
// permissions (and owner, where allowed), is written and synced, and is then
// renamed over the old one. On failure the old file stays as it was and the
// temporary file is removed.
int ReplaceFileContents(const std::string& Path, std::string_view Bytes);

}  // namespace quillet

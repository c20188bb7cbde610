// Reading a whole input stream for the command-line tools.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace varnox {

// The most input a command takes: more than a message may sensibly have,
// and what keeps a command's memory bounded on endless input.
constexpr std::size_t kMaxInputBytes = 128 * 1024 * 1024;

// Reads the stream up to its end or its first NUL byte, which ends the text
// (the operations take NUL-terminated text, so nothing after it counts).
// Returns false, with the reason in error, when a read fails, when more than
// kMaxInputBytes come before the end, or when the stream is a regular file
// larger than that; text is then empty.
bool ReadAll(std::FILE* in, std::string& text, std::string& error);

// ReadAll on standard input. On failure prints "varnox: cannot read standard
// input: <reason>" and returns false.
bool ReadStdinText(std::string& text);

// Writes all bytes to standard output; false on a write failure.
bool WriteStdout(const char* data, std::size_t size);

}  // namespace varnox

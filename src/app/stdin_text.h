// Reading a whole input stream for the command-line tools.
#pragma once

#include <cstdio>
#include <string>

namespace varnox {

// Reads the stream to its end into text. Returns false (with errno's reason in
// error) when a read fails; text then holds what was read so far.
bool ReadAll(std::FILE* in, std::string& text, std::string& error);

// Reads standard input up to its end and cuts it at the first NUL. On a read
// failure prints "varnox: cannot read standard input: <reason>" and returns false.
bool ReadStdinText(std::string& text);

// Writes all bytes to standard output; false on a write failure.
bool WriteStdout(const char* data, std::size_t size);

}  // namespace varnox

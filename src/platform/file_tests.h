// The two file tests of the folder searches. Neither creates a file.
#pragma once

#include <string>

namespace varnox {

// True when path is an existing file that can be opened for reading.
bool FileExists(const std::string& path);

// True when path is an existing file that can be opened for writing; false
// for a missing file and for a running executable (ETXTBSY).
bool FileWritable(const std::string& path);

}  // namespace varnox

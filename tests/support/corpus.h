// The SpamAssassin public corpus, unpacked under the build folder by the
// test script: folders easy-ham-1, easy-ham-2, hard-ham-1, spam-1, spam-2 of
// NNNNN.<hash>.txt files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnox::testsupport {

// The corpus folder: $VARNOX_CORPUS if set, else the one configured at build time.
std::string CorpusDir();

// Paths of every message file, sorted; empty when the corpus is missing.
// folder limits the result to one of the corpus folders.
std::vector<std::string> CorpusFiles(const std::string& folder = "");

// The whole file; empty when it cannot be read.
std::string ReadAll(const std::string& path);

// Well-formed UTF-8 as RFC 3629 says: no overlong forms, no surrogates.
bool IsUtf8(std::string_view s);

}  // namespace varnox::testsupport

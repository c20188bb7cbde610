// The content shipped with the program (help pages, language files),
// written into the install folder at every start.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/embedded_file.h"

namespace varnox {

// Where a shipped file (path relative to share/) goes, relative to the
// install folder; empty for files that are not installed there.
std::string InstallPath(std::string_view sharedPath);

// Whether the manifest lists this version (by its hash) of the shipped file.
bool ManifestHasVersion(std::string_view manifest, std::string_view sharedPath,
                        std::string_view hash);

// The hash the manifest keeps of a file's bytes.
std::string ContentHash(std::string_view bytes);

// Brings the install folder's copies of files up to date: a missing file is
// written; a file equal to a version the manifest lists, but not to the
// current one, is replaced; any other (changed by the user) is left alone.
// Files are written whole under a temporary name and renamed. Every file is
// tried; false with the failures in error when some could not be written.
bool InstallShippedContent(const std::string& installFolder, std::span<const EmbeddedFile> files,
                           std::string_view manifest, std::string& error);

// The same with the files and the manifest built into the program.
bool InstallShippedContent(const std::string& installFolder, std::string& error);

// The files built into the program, the manifest among them ("manifest.txt").
std::span<const EmbeddedFile> ShippedFiles();
std::string_view ShippedManifest();

}  // namespace varnox

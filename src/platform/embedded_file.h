// Files built into the executable (the window's page, shipped content).
#pragma once

#include <span>
#include <string_view>

namespace varnox {

struct EmbeddedFile {
  std::string_view path;  // relative, with '/'
  std::string_view data;
};

// Declares NAME_files() of a library made by varnox_embed.
#define VARNOX_EMBEDDED(NAME) std::span<const ::varnox::EmbeddedFile> NAME##_files()

}  // namespace varnox

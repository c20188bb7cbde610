// The device root (the phone's file system root, and its program-files
// folder) and the storage cards linked into it.
#pragma once

#include <string>
#include <vector>

namespace varnox {

// --root, else $VARNOX_ROOT, else $XDG_DATA_HOME/varnox, else
// ~/.local/share/varnox. rootOption may be empty.
std::string ResolveDeviceRoot(const std::string& rootOption);

constexpr int kMaxStorageCards = 16;
constexpr std::size_t kMaxCardName = 63;

// Entries directly under the device root, other than Varnox, Mail and spool,
// that are mount points or symbolic links to folders: a user links a removable
// medium in. In name order, at most 16; names longer than 63 bytes are left
// out (they could not be stored whole and would name another folder).
class StorageCards {
 public:
  explicit StorageCards(std::string deviceRoot) : root_(std::move(deviceRoot)) {}
  void EnumStorageCards();
  int GetStorageCardCount() const { return static_cast<int>(names_.size()); }
  const std::string& GetStorageCardName(int index) const { return names_[index]; }

 private:
  std::string root_;
  std::vector<std::string> names_;
};

}  // namespace varnox

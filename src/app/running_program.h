// The running program of a device root, as other commands see it: the
// address it writes to <root>/.ClassName, and commands sent to it as a
// user's tap would send them.
#pragma once

#include <string>

namespace varnox {

// Writes the address (mode 0600, replaced at once); false when it cannot.
bool WriteProgramAddress(const std::string& root, const std::string& address);
// Removes it (the program ends, or a scan takes the root).
void RemoveProgramAddress(const std::string& root);
// The address the running program wrote, or empty.
std::string ReadProgramAddress(const std::string& root);

// Opens address in the user's browser (xdg-open, in the background).
void OpenInBrowser(const std::string& address);

enum class SendResult { kDone, kBusy, kUnreachable, kRefused };

// POSTs command id of the main window to the program at address (with its
// token), retrying while a dialog is open for up to busyFor. error says why
// when it is not kDone.
SendResult SendMainCommand(const std::string& address, int id, int busyForMs, std::string& error);

}  // namespace varnox

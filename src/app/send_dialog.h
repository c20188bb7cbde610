// The send dialog (dialog 121): one text message to a number, usually a
// reply to the message selected in the viewer, handed to the SMS spool.
#pragma once

#include <string>

#include "i18n/interface_strings.h"
#include "mailstore/auto_response.h"
#include "web/control_model.h"

namespace varnox {

class Viewer;

inline constexpr char kSendDialog[] = "121";
inline constexpr int kSendRecipient = 1000;
inline constexpr int kSendMessage = 1002;
inline constexpr int kSendConfirmation = 1009;
inline constexpr int kSendButton = 1024;
inline constexpr int kSendStatus = 1100;  // what the last "Send" did

// The whole text of a control of dialog key: 0 with text set (empty for an
// empty control), -2 when there is no such control to read.
int ReadDialogText(const WindowModel& model, const std::string& key, int id, std::string& text);

class SendDialog {
 public:
  SendDialog(WindowModel& model, const Viewer& viewer, SmsSender& sender,
             const InterfaceStrings& strings);

  // Opens the dialog, modal, the recipient taken from the viewer's selection.
  void Open();
  // "Send" (1024) sends and stays open; Done, Cancel, "Close" (20013) and
  // 20015 close it.
  void Command(int id);

 private:
  void Send();

  WindowModel& model_;
  const Viewer& viewer_;
  SmsSender& sender_;
  const InterfaceStrings& strings_;
};

}  // namespace varnox

#include "app/send_dialog.h"

#include "app/viewer.h"

namespace varnox {

int ReadDialogText(const WindowModel& model, const std::string& key, int id, std::string& text) {
  const std::optional<Dialog> d = model.Get(key);
  if (!d) return -2;
  const auto c = d->controls.find(id);
  if (c == d->controls.end()) return -2;
  text = c->second.text;
  return 0;
}

SendDialog::SendDialog(WindowModel& model, const Viewer& viewer, SmsSender& sender,
                       const InterfaceStrings& strings)
    : model_(model), viewer_(viewer), sender_(sender), strings_(strings) {}

void SendDialog::Open() {
  Dialog d;
  d.key = kSendDialog;
  d.title = "Send";
  d.modal = true;
  d.Add(1004, ControlKind::kLabel, "Message Recipient:");
  // Typing adds digits only, but the sender it is filled from keeps its "+".
  d.Add(kSendRecipient, ControlKind::kEdit, viewer_.ViewerSelection().sender).digitsOnly = true;
  d.Add(kSendConfirmation, ControlKind::kCheck, "Confirmation");
  d.Add(1006, ControlKind::kLabel, "Message :");
  d.Add(kSendMessage, ControlKind::kEdit).multiline = true;
  d.Add(kSendButton, ControlKind::kButton, "Send");
  d.Add(20013, ControlKind::kButton, "Close");
  d.Add(kSendStatus, ControlKind::kField);
  model_.Open(std::move(d));
}

void SendDialog::Command(int id) {
  if (id == kSendButton) {
    Send();
  } else if (id == 1 || id == 2 || id == 20013 || id == 20015) {
    model_.Close(kSendDialog);
  }
}

void SendDialog::Send() {
  const int report = model_.Checked(kSendDialog, kSendConfirmation) ? 1 : 0;
  // The texts of one send live only during it; the fields keep theirs, so
  // the same message can be sent again or changed.
  std::string recipient, text, error;
  std::string status;
  if (ReadDialogText(model_, kSendDialog, kSendRecipient, recipient) != 0 || recipient.empty()) {
    status = strings_.Get(133);
  } else if (ReadDialogText(model_, kSendDialog, kSendMessage, text) != 0 || text.empty()) {
    status = strings_.Get(134);
  } else if (!sender_.Send(report, recipient, text, error)) {
    status = strings_.Get(135) + " " + error;
  } else {
    status = strings_.Get(132);
  }
  model_.SetText(kSendDialog, kSendStatus, status);
}

}  // namespace varnox

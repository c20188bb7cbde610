#include "app/about_box.h"

#include "app/identity.h"

namespace varnox {

void OpenAboutBox(WindowModel& model) {
  Dialog d;
  d.key = kAboutDialog;
  d.title = "About";
  d.modal = true;
  // The captions the box is made with; opening puts the identity into the
  // four fields that carry it.
  d.Add(20004, ControlKind::kLabel, kProductDisplayName);
  d.Add(20008, ControlKind::kLabel, kProductDescription);
  d.Add(40013, ControlKind::kLabel, "Version");
  d.Add(20009, ControlKind::kLabel, kProductVersion);
  d.Add(20002, ControlKind::kLabel, "Copyright");
  d.Add(20003, ControlKind::kLabel, kCopyrightYear);
  d.Add(20010, ControlKind::kLabel, "Produced");
  d.Add(20005, ControlKind::kLabel, kMakerName);
  d.Add(20006, ControlKind::kLabel, kMakerMailAddress);
  d.Add(20007, ControlKind::kLabel, kProductWebAddress);
  d.Add(20013, ControlKind::kButton, "Close");
  model.Open(std::move(d));
}

void AboutBoxCommand(WindowModel& model, int id) {
  if (id == 1 || id == 2 || id == 20013 || id == 20015) model.Close(kAboutDialog);
}

}  // namespace varnox

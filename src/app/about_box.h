// The about box (dialog 117): the product's identity, modal over the main
// window.
#pragma once

#include "web/control_model.h"

namespace varnox {

constexpr char kAboutDialog[] = "117";

// Opens the box in the model, its identity texts filled in.
void OpenAboutBox(WindowModel& model);
// Done, Cancel, "Close" (20013) and 20015 close it; other commands do nothing.
void AboutBoxCommand(WindowModel& model, int id);

}  // namespace varnox

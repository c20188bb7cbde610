// A request body as the window's server reads it: parsed as JSON, then its
// "controls" applied to a dialog with one control of every editable kind.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "web/control_model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace varnox;
  static WindowModel model;
  static const bool opened = [] {
    Dialog d;
    d.key = "120";
    d.Add(1022, ControlKind::kEdit, "0");
    d.Add(1011, ControlKind::kCheck, "Spam");
    d.Add(1010, ControlKind::kList).lines = {"a", "b", "c", "d"};
    d.Add(20001, ControlKind::kMultiList).lines = {"x", "y"};
    d.Add(1019, ControlKind::kField, "day");
    model.Open(std::move(d));
    return true;
  }();
  (void)opened;
  const auto body = nlohmann::json::parse(
      std::string_view(reinterpret_cast<const char*>(data), size), nullptr, false);
  if (body.is_discarded() || !body.is_object()) return 0;
  if (body.contains("controls")) model.ApplyControls("120", body["controls"]);
  (void)model.ToJson().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return 0;
}

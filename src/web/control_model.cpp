#include "web/control_model.h"

#include <algorithm>

namespace varnox {
namespace {

const char* KindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return "label";
    case ControlKind::kField:
      return "field";
    case ControlKind::kEdit:
      return "edit";
    case ControlKind::kButton:
      return "button";
    case ControlKind::kCheck:
      return "check";
    case ControlKind::kList:
      return "list";
    case ControlKind::kMultiList:
      return "multilist";
  }
  return "label";
}

nlohmann::json MenuJson(const std::vector<MenuItem>& items) {
  nlohmann::json out = nlohmann::json::array();
  for (const MenuItem& item : items) {
    if (item.separator) {
      out.push_back({{"separator", true}});
    } else if (!item.items.empty()) {
      out.push_back({{"text", item.text}, {"items", MenuJson(item.items)}});
    } else {
      out.push_back({{"id", item.id}, {"text", item.text}});
    }
  }
  return out;
}

nlohmann::json ControlJson(const Control& c) {
  nlohmann::json j = {{"kind", KindName(c.kind)}};
  switch (c.kind) {
    case ControlKind::kList:
      j["lines"] = c.lines;
      j["selected"] = c.selected;
      if (!c.spam.empty()) j["spam"] = c.spam;
      break;
    case ControlKind::kMultiList:
      j["lines"] = c.lines;
      j["selected"] = c.selection;
      break;
    case ControlKind::kCheck:
      j["text"] = c.text;
      j["checked"] = c.checked;
      break;
    default:
      j["text"] = c.text;
  }
  if (c.multiline) j["multiline"] = true;
  if (c.digitsOnly) j["digits"] = true;
  if (!c.enabled) j["enabled"] = false;
  return j;
}

nlohmann::json ControlsJson(const Dialog& d) {
  nlohmann::json controls = nlohmann::json::object();
  for (const auto& [id, c] : d.controls) controls[std::to_string(id)] = ControlJson(c);
  return controls;
}

// A request's list index: a whole number that names a line.
bool LineIndex(const nlohmann::json& v, std::size_t lines, int& index) {
  if (!v.is_number_integer()) return false;
  const auto i = v.get<std::int64_t>();
  if (i < 0 || static_cast<std::uint64_t>(i) >= lines) return false;
  index = static_cast<int>(i);
  return true;
}

}  // namespace

Control& Dialog::Add(int id, ControlKind kind, std::string text) {
  order.push_back(id);
  Control& c = controls[id];
  c.kind = kind;
  c.text = std::move(text);
  return c;
}

void WindowModel::SetListener(Listener listener) {
  std::lock_guard<std::mutex> lock(listenerMutex_);
  listener_ = std::move(listener);
}

void WindowModel::Notify(const ModelEvent& event) {
  Listener listener;
  {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listener = listener_;
  }
  if (listener) listener(event);
}

void WindowModel::Changed(std::vector<std::string> keys) {
  Notify({ModelEvent::Kind::kChanged, {}, std::move(keys)});
}

void WindowModel::Bye() {
  Notify({ModelEvent::Kind::kBye, {}, {}});
}

std::vector<MenuItem> WindowModel::Menu() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return menu_;
}

bool WindowModel::SetMenuText(int command, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::function<MenuItem*(std::vector<MenuItem>&)> find =
        [&](std::vector<MenuItem>& items) -> MenuItem* {
      for (MenuItem& item : items) {
        if (!item.separator && item.items.empty() && item.id == command) return &item;
        if (MenuItem* inner = find(item.items)) return inner;
      }
      return nullptr;
    };
    MenuItem* item = find(menu_);
    if (!item) return false;
    item->text = text;
  }
  Changed({"main"});
  return true;
}

void WindowModel::SetMenu(std::vector<MenuItem> menu) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    menu_ = std::move(menu);
  }
  Changed({"main"});
}

void WindowModel::AddMainControl(int id, ControlKind kind, std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!main_.controls.count(id)) main_.Add(id, kind, std::move(text));
  }
  Changed({"main"});
}

void WindowModel::SetMainMinimized(bool minimized) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mainMinimized_ = minimized;
  }
  Changed({"main"});
}

bool WindowModel::MainMinimized() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mainMinimized_;
}

void WindowModel::PageWritten() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++pageVersion_;
  }
  Changed({"main"});
}

void WindowModel::HelpFound() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++helpVersion_;
  }
  Changed({"main"});
}

int WindowModel::PageVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pageVersion_;
}

int WindowModel::HelpVersion() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return helpVersion_;
}

void WindowModel::Open(Dialog dialog) {
  const std::string key = dialog.key;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (dialog.modal) modal_ = key;
    dialogs_[key] = std::move(dialog);
  }
  Changed({key});
}

void WindowModel::Close(const std::string& key) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dialogs_.erase(key);
    if (modal_ == key) modal_.clear();
  }
  Changed({key});
}

bool WindowModel::IsOpen(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return key == "main" || dialogs_.count(key) > 0;
}

void WindowModel::SetVisible(const std::string& key, bool visible) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = dialogs_.find(key);
    if (it == dialogs_.end()) return;
    it->second.visible = visible;
  }
  Changed({key});
}

void WindowModel::SetMinimized(const std::string& key, bool minimized) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = dialogs_.find(key);
    if (it == dialogs_.end()) return;
    it->second.minimized = minimized;
  }
  Changed({key});
}

std::optional<Dialog> WindowModel::Get(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = dialogs_.find(key);
  if (it == dialogs_.end()) return std::nullopt;
  return it->second;
}

std::string WindowModel::Modal() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return modal_;
}

Control* WindowModel::Find(const std::string& key, int id) {
  auto it = dialogs_.find(key);
  Dialog* dialog = key == "main" ? &main_ : it == dialogs_.end() ? nullptr : &it->second;
  if (!dialog) return nullptr;
  auto c = dialog->controls.find(id);
  return c == dialog->controls.end() ? nullptr : &c->second;
}

const Control* WindowModel::Find(const std::string& key, int id) const {
  return const_cast<WindowModel*>(this)->Find(key, id);
}

void WindowModel::SetCaptions(int id, const std::string& text) {
  std::vector<std::string> changed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::pair<std::string, Dialog*>> all{{"main", &main_}};
    for (auto& [key, dialog] : dialogs_) all.emplace_back(key, &dialog);
    for (auto& [key, dialog] : all) {
      const auto it = dialog->controls.find(id);
      if (it == dialog->controls.end()) continue;
      Control& c = it->second;
      const bool caption = c.kind == ControlKind::kLabel || c.kind == ControlKind::kButton ||
                           c.kind == ControlKind::kCheck;
      if (!caption || c.text == text) continue;
      c.text = text;
      changed.push_back(key);
    }
  }
  if (!changed.empty()) Changed(std::move(changed));
}

void WindowModel::SetText(const std::string& key, int id, std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find(key, id);
    if (!c || c->text == text) return;
    c->text = std::move(text);
  }
  Changed({key});
}

std::string WindowModel::Text(const std::string& key, int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(key, id);
  return c ? c->text : std::string();
}

void WindowModel::SetChecked(const std::string& key, int id, bool checked) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find(key, id);
    if (!c || c->checked == checked) return;
    c->checked = checked;
  }
  Changed({key});
}

bool WindowModel::Checked(const std::string& key, int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(key, id);
  return c && c->checked;
}

void WindowModel::SetEnabled(const std::string& key, int id, bool enabled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find(key, id);
    if (!c || c->enabled == enabled) return;
    c->enabled = enabled;
  }
  Changed({key});
}

void WindowModel::SetLines(const std::string& key, int id, std::vector<std::string> lines) {
  SetLines(key, id, std::move(lines), {});
}

void WindowModel::SetLines(const std::string& key, int id, std::vector<std::string> lines,
                           std::vector<bool> spam) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find(key, id);
    if (!c) return;
    if (c->kind == ControlKind::kMultiList) {
      auto lower = [](std::string s) {
        for (char& ch : s)
          if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        return s;
      };
      std::stable_sort(
          lines.begin(), lines.end(),
          [&lower](const std::string& a, const std::string& b) { return lower(a) < lower(b); });
    }
    c->lines = std::move(lines);
    c->spam = std::move(spam);
    c->selected = -1;
    c->selection.clear();
  }
  Changed({key});
}

std::vector<std::string> WindowModel::Lines(const std::string& key, int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(key, id);
  return c ? c->lines : std::vector<std::string>();
}

bool WindowModel::Line(const std::string& key, int id, int index, std::string& line) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(key, id);
  if (!c || index < 0 || static_cast<std::size_t>(index) >= c->lines.size()) return false;
  line = c->lines[index];
  return true;
}

int WindowModel::Selected(const std::string& key, int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(key, id);
  return c ? c->selected : -1;
}

void WindowModel::SetSelected(const std::string& key, int id, int index) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find(key, id);
    if (!c) return;
    c->selected = index >= 0 && static_cast<std::size_t>(index) < c->lines.size() ? index : -1;
  }
  Changed({key});
}

std::vector<int> WindowModel::Selection(const std::string& key, int id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Control* c = Find(key, id);
  return c ? c->selection : std::vector<int>();
}

void WindowModel::SetSelection(const std::string& key, int id, std::vector<int> indexes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find(key, id);
    if (!c) return;
    c->selection.clear();
    for (int i : indexes)
      if (i >= 0 && static_cast<std::size_t>(i) < c->lines.size()) c->selection.push_back(i);
  }
  Changed({key});
}

void WindowModel::ShowStatus(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Control* c = Find("120", 1021);
    if (c) c->text = text;
  }
  Notify({ModelEvent::Kind::kStatus, text, {}});
}

void WindowModel::ShowMessageBox(MessageBoxState box) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messageBox_ = std::move(box);
  }
  Changed({"messagebox"});
}

void WindowModel::CloseMessageBox() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messageBox_.reset();
  }
  Changed({"messagebox"});
}

std::optional<MessageBoxState> WindowModel::MessageBox() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return messageBox_;
}

bool WindowModel::ApplyControls(const std::string& key, const nlohmann::json& controls) {
  if (!controls.is_object()) return false;
  // Every value is checked before any is set: a refused request changes
  // nothing.
  struct Write {
    Control* control;
    Control value;
  };
  std::vector<Write> writes;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [name, state] : controls.items()) {
      if (!state.is_object()) return false;
      int id = 0;
      try {
        std::size_t used = 0;
        id = std::stoi(name, &used);
        if (used != name.size()) continue;
      } catch (const std::exception&) {
        continue;  // not an identifier: ignored
      }
      Control* c = Find(key, id);
      if (!c || !c->Editable()) continue;
      Control value = *c;
      if (c->kind == ControlKind::kEdit && state.contains("text")) {
        if (!state["text"].is_string()) return false;
        value.text = state["text"].get<std::string>();
      } else if (c->kind == ControlKind::kCheck && state.contains("checked")) {
        if (!state["checked"].is_boolean()) return false;
        value.checked = state["checked"].get<bool>();
      } else if (c->kind == ControlKind::kList && state.contains("selected")) {
        int index = -1;
        const auto& v = state["selected"];
        if (!(v.is_number_integer() && v.get<std::int64_t>() == -1) &&
            !LineIndex(v, c->lines.size(), index))
          return false;
        value.selected = index;
      } else if (c->kind == ControlKind::kMultiList && state.contains("selected")) {
        const auto& v = state["selected"];
        if (!v.is_array()) return false;
        value.selection.clear();
        for (const auto& e : v) {
          int index = -1;
          if (!LineIndex(e, c->lines.size(), index)) return false;
          value.selection.push_back(index);
        }
      } else {
        continue;
      }
      writes.push_back({c, std::move(value)});
    }
    for (Write& w : writes) *w.control = std::move(w.value);
  }
  if (!writes.empty()) Changed({key});
  return true;
}

nlohmann::json WindowModel::ToJson() const {
  std::lock_guard<std::mutex> lock(mutex_);
  nlohmann::json dialogs = nlohmann::json::object();
  dialogs["main"] = {{"open", true},
                     {"minimized", mainMinimized_},
                     {"menu", MenuJson(menu_)},
                     {"pageVersion", pageVersion_},
                     {"helpVersion", helpVersion_},
                     {"controls", ControlsJson(main_)}};
  for (const auto& [key, d] : dialogs_) {
    const nlohmann::json controls = ControlsJson(d);
    dialogs[key] = {{"open", true},        {"visible", d.visible}, {"minimized", d.minimized},
                    {"modal", d.modal},    {"title", d.title},     {"order", d.order},
                    {"controls", controls}};
  }
  nlohmann::json box = nullptr;
  if (messageBox_)
    box = {{"text", messageBox_->text},
           {"caption", messageBox_->caption},
           {"buttons", messageBox_->buttons}};
  return {{"dialogs", dialogs},
          {"modal", modal_.empty() ? nlohmann::json(nullptr) : nlohmann::json(modal_)},
          {"messageBox", box}};
}

}  // namespace varnox

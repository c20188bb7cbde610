#include "app/rule_editor.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

#include "app/viewer.h"
#include "app/workers.h"
#include "platform/sms_incoming.h"

namespace varnox {
namespace {

constexpr int kCountField = 1038;
constexpr int kRuleList = 1026;
constexpr int kSenderField = 1031;
constexpr int kMessageField = 1032;
constexpr int kResponseField = 1035;
constexpr int kBySenderBox = 1030;
constexpr int kResponseBox = 1036;
constexpr int kAdd = 1033;
constexpr int kDelete = 1034;
constexpr int kClose = 20013;
constexpr int kCloseCommand = 20015;
constexpr int kLinesPerRule = 3;
constexpr float kEditorCertainty = 90.0f;

}  // namespace

RuleEditor::RuleEditor(WindowModel& model, Storage& storage, Viewer& viewer, Workers& workers,
                       const InterfaceStrings& strings, RuleEditorMessageBox messageBox)
    : model_(model),
      storage_(storage),
      viewer_(viewer),
      workers_(workers),
      strings_(strings),
      messageBox_(std::move(messageBox)) {}

void RuleEditor::Open() {
  Dialog d;
  d.key = kRuleEditorDialog;
  d.title = "Rules";
  d.modal = true;
  d.Add(1028, ControlKind::kLabel, "Rules");
  d.Add(kCountField, ControlKind::kField);
  d.Add(kRuleList, ControlKind::kList);
  d.Add(1015, ControlKind::kLabel, "Sender");
  d.Add(kSenderField, ControlKind::kEdit);
  d.Add(1016, ControlKind::kLabel, "Message");
  d.Add(kMessageField, ControlKind::kEdit).multiline = true;
  d.Add(1017, ControlKind::kLabel, "Custom Response");
  d.Add(kResponseField, ControlKind::kEdit).multiline = true;
  d.Add(kBySenderBox, ControlKind::kCheck, "Filter By Sender");
  d.Add(kResponseBox, ControlKind::kCheck, "Response");
  d.Add(kAdd, ControlKind::kButton, "Add");
  d.Add(kDelete, ControlKind::kButton, "Delete");
  d.Add(kClose, ControlKind::kButton, "Close");
  // Paused before the list is read, so the scan classifies with no rule
  // table the editor is about to change.
  workers_.PauseScan();
  model_.Open(std::move(d));
  FillRuleList();
  const ViewerSelectionTexts selection = viewer_.ViewerSelection();
  model_.SetText(kRuleEditorDialog, kSenderField, selection.sender);
  model_.SetText(kRuleEditorDialog, kMessageField, selection.text);
  model_.SetText(kRuleEditorDialog, kResponseField, selection.response);
  changed_ = false;
}

void RuleEditor::Command(int id) {
  if (!model_.IsOpen(kRuleEditorDialog)) return;
  switch (id) {
    case kAdd:
      Add();
      break;
    case kDelete:
      Delete();
      break;
    case 1:
    case 2:
    case kClose:
    case kCloseCommand:
      Close();
      break;
    default:
      break;
  }
}

void RuleEditor::SelectionChanged(int control) {
  if (control != kRuleList) return;
  const int line = model_.Selected(kRuleEditorDialog, kRuleList);
  if (line < 0) return;
  std::string sender, message, response;
  int useResponse = 0, bySender = 0, id = 0;
  float certainty = 0;
  if (!storage_.rules.GetRule(line / kLinesPerRule, sender, message, response, useResponse,
                              bySender, certainty, id))
    return;
  model_.SetText(kRuleEditorDialog, kSenderField, ValidUtf8(sender));
  model_.SetText(kRuleEditorDialog, kMessageField, ValidUtf8(message));
  model_.SetText(kRuleEditorDialog, kResponseField, ValidUtf8(response));
  model_.SetChecked(kRuleEditorDialog, kResponseBox, useResponse != 0);
  model_.SetChecked(kRuleEditorDialog, kBySenderBox, bySender != 0);
}

void RuleEditor::FillRuleList() {
  storage_.rules.LoadRules();
  std::vector<std::string> lines;
  std::string sender, message, response;
  int useResponse = 0, bySender = 0, id = 0;
  float certainty = 0;
  for (int i = 0; i < storage_.rules.GetRuleCount(); ++i) {
    if (!storage_.rules.GetRule(i, sender, message, response, useResponse, bySender, certainty, id))
      continue;
    lines.push_back("____________" + std::to_string(i + 1) +
                    ". Rule________________________________");
    lines.push_back(ValidUtf8(sender));
    lines.push_back(ValidUtf8(message));
  }
  model_.SetLines(kRuleEditorDialog, kRuleList, std::move(lines));
  model_.SetText(kRuleEditorDialog, kCountField, std::to_string(storage_.rules.GetRuleCount()));
}

void RuleEditor::Add() {
  const std::string sender = model_.Text(kRuleEditorDialog, kSenderField);
  const std::string field = model_.Text(kRuleEditorDialog, kMessageField);
  const std::string response = model_.Text(kRuleEditorDialog, kResponseField);
  const bool useResponse = model_.Checked(kRuleEditorDialog, kResponseBox);
  const bool bySender = model_.Checked(kRuleEditorDialog, kBySenderBox);
  if (sender.empty() && field.empty()) {
    messageBox_(strings_.Get(120), strings_.Get(123));
    return;
  }
  // A sender rule without a sender would match every message, and the
  // re-check would then file all mail as spam.
  if (bySender && sender.empty()) {
    messageBox_(strings_.Get(131), strings_.Get(123));
    return;
  }
  // The e-mail's full text rather than its cut list line, but only while
  // the field still shows that e-mail: the user's own text is never
  // replaced.
  const std::string message = viewer_.SelectedMailTextFor(field).value_or(field);
  if (!storage_.rules.AddRule(sender, message, response, useResponse ? 1 : 0, bySender ? 1 : 0,
                              kEditorCertainty)) {
    messageBox_(strings_.Get(122), strings_.Get(123));
    return;
  }
  changed_ = true;
}

void RuleEditor::Delete() {
  std::string sender = model_.Text(kRuleEditorDialog, kSenderField);
  std::string message = model_.Text(kRuleEditorDialog, kMessageField);
  const int line = model_.Selected(kRuleEditorDialog, kRuleList);
  if (line < 0) {
    messageBox_(strings_.Get(124), strings_.Get(123));
    return;
  }
  const int first = line / kLinesPerRule * kLinesPerRule;
  // The fields show a rule's texts made valid UTF-8, and the browser hands
  // CR LF back as LF: fields that still show the selected rule name it with
  // its stored texts, so that rule is deleted.
  std::string storedSender, storedMessage, response;
  int useResponse = 0, bySender = 0, id = 0;
  float certainty = 0;
  if (storage_.rules.GetRule(line / kLinesPerRule, storedSender, storedMessage, response,
                             useResponse, bySender, certainty, id) &&
      SameUpToLineEnds(ValidUtf8(storedSender), sender) &&
      SameUpToLineEnds(ValidUtf8(storedMessage), message)) {
    sender = std::move(storedSender);
    message = std::move(storedMessage);
  }
  if (!storage_.rules.DeleteRule(sender, message)) {
    messageBox_(strings_.Get(125), strings_.Get(118));
    return;
  }
  // The selected rule's lines go, whichever rule the fields named; the
  // count keeps its number until the next fill.
  std::vector<std::string> lines = model_.Lines(kRuleEditorDialog, kRuleList);
  const auto at = [&lines](int index) {
    return lines.begin() + std::min<std::ptrdiff_t>(index, std::ssize(lines));
  };
  lines.erase(at(first), at(first + kLinesPerRule));
  model_.SetLines(kRuleEditorDialog, kRuleList, std::move(lines));
  model_.SetText(kRuleEditorDialog, kSenderField, "");
  model_.SetText(kRuleEditorDialog, kMessageField, "");
  model_.SetText(kRuleEditorDialog, kResponseField, "");
  changed_ = true;
}

void RuleEditor::Close() {
  if (changed_) {
    storage_.locations.SignalRulesChanged();
    FillRuleList();
    workers_.StartRecheck();
  }
  workers_.ResumeScan();
  model_.Close(kRuleEditorDialog);
  changed_ = false;
}

}  // namespace varnox

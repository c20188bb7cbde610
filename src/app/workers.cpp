#include "app/workers.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "storage/data_locations.h"
#include "storage/recheck.h"

namespace varnox {
namespace {

// Below normal: one step nicer than the thread that starts the worker, so
// the user interface keeps the upper hand.
void LowerPriority() {
  const auto tid = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, tid);
  if (errno == 0) setpriority(PRIO_PROCESS, tid, nice + 1);
}

}  // namespace

ScanHooks ViewerScanHooks(Viewer& viewer, const InterfaceStrings& strings) {
  ScanHooks hooks;
  hooks.showStatus = [&viewer](const std::string& text) { viewer.ShowStatus(text); };
  hooks.reloadList = [&viewer] { viewer.ReloadMessageList(); };
  hooks.checkingText = [&strings] { return strings.Get(127); };
  return hooks;
}

Workers::Workers(Viewer& viewer, Storage& storage, RuleTable& table, StoreScan& scan,
                 PauseGate& gate, const InterfaceStrings& strings)
    : viewer_(viewer),
      storage_(storage),
      table_(table),
      scan_(scan),
      gate_(gate),
      strings_(strings),
      rulesStamp_(RulesSignalStamp(storage.locations.DataFolder())) {
  viewer_.SetListReloadStarter([this] { return StartListReload(); });
}

Workers::~Workers() {
  Stop();
}

bool Workers::Start(Slot& slot, int (Workers::*body)()) {
  if (slot.thread.joinable()) slot.thread.join();  // its body has ended
  slot.running = true;
  try {
    slot.thread = std::thread([this, &slot, body] {
      LowerPriority();
      (this->*body)();
      std::lock_guard<std::mutex> guard(slotsMutex_);  // guards the slot
      slot.running = false;
      slotsChanged_.notify_all();
    });
  } catch (const std::system_error&) {
    slot.running = false;
    return false;
  }
  return true;
}

bool Workers::StartListReload() {
  std::lock_guard<std::mutex> guard(slotsMutex_);  // guards the slots
  if (stopping_ || reload_.running) return false;
  return Start(reload_, &Workers::ListReloadThread);
}

bool Workers::StartRecheck() {
  std::lock_guard<std::mutex> guard(slotsMutex_);  // guards the slots
  if (stopping_) return false;
  if (recheck_.running) return true;
  return Start(recheck_, &Workers::RecheckThread);
}

bool Workers::PauseScan() {
  std::lock_guard<std::mutex> guard(pauseMutex_);  // guards paused_
  if (paused_) return false;
  paused_ = true;
  gate_.Pause();
  return true;
}

bool Workers::ResumeScan() {
  std::lock_guard<std::mutex> guard(pauseMutex_);  // guards paused_
  if (!paused_) return false;
  paused_ = false;
  gate_.Resume();
  return true;
}

int Workers::ListReloadThread() {
  PauseScan();
  viewer_.ShowStatus(strings_.Get(128) + "...");
  viewer_.ReloadMessageList();
  viewer_.ShowStatus("");
  ResumeScan();
  return 1;
}

int Workers::RecheckThread() {
  PauseScan();
  viewer_.ShowStatus(strings_.Get(126) + "...");
  // RecheckLogs loads the rules first, and walks nothing while they have
  // never loaded.
  const auto generation =
      RecheckLogs(storage_.locations, storage_.messages, storage_.smsLog, storage_.rules, table_,
                  nullptr, [this] { return watchGate_.Stopping(); });
  if (!generation) {
    if (!watchGate_.Stopping()) viewer_.ShowStatus(kRecheckRefused);
    ResumeScan();
    return 1;
  }
  StartListReload();
  viewer_.ShowStatus("");
  ResumeScan();
  scan_.RecheckDone(*generation);
  return 1;
}

void Workers::StartRulesWatch() {
  if (watch_.joinable()) return;
  watch_ = std::thread([this] {
    LowerPriority();
    while (watchGate_.Sleep(std::chrono::milliseconds(1000))) CheckRulesSignal();
  });
}

bool Workers::CheckRulesSignal() {
  const std::int64_t now = RulesSignalStamp(storage_.locations.DataFolder());
  // A load that fails keeps the rules in force and is tried again.
  if (now == rulesStamp_ || !storage_.rules.LoadRules()) return false;
  rulesStamp_ = now;
  return StartRecheck();
}

void Workers::Wait() {
  std::unique_lock<std::mutex> lock(slotsMutex_);  // guards the slots
  slotsChanged_.wait(lock, [this] { return !reload_.running && !recheck_.running; });
  for (Slot* slot : {&reload_, &recheck_})
    if (slot->thread.joinable()) slot->thread.join();
}

void Workers::Stop() {
  {
    std::lock_guard<std::mutex> guard(slotsMutex_);  // guards stopping_
    stopping_ = true;
  }
  watchGate_.Stop();
  if (watch_.joinable()) watch_.join();
  Wait();
  viewer_.SetListReloadStarter({});
  ResumeScan();
}

}  // namespace varnox

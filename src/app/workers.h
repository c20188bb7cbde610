// The workers the user interface starts: the reload of the viewer's list and
// the re-check of every logged message under the rules in force; the pause
// of the store scan around them; and the watch of rs.dat, through which a
// change of the rules by another process (varnox rules add) starts a
// re-check here.
//
// Wiring: make the StoreScan, then the Viewer (it lists the scan's stores),
// then Workers; give the scan ViewerScanHooks(viewer, strings) with
// scan.SetHooks before scan.Start(), and the automatic-response thread
// [&viewer] { viewer.ReloadMessageList(); } as its reloadList. Call
// StartRulesWatch once the scan runs; Stop (or the destructor) before the
// scan is joined.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "app/viewer.h"
#include "i18n/interface_strings.h"
#include "mailstore/scan.h"
#include "platform/pause_gate.h"
#include "storage/init_storage.h"

namespace varnox {

// The status line while the rules have never been read: a re-check then
// would reset every logged spam, so none runs.
inline constexpr char kRecheckRefused[] =
    "Not updated: the rules could not be read yet, so no verdict was changed.";

// The scan's hooks that reach the viewer: its status line and its list.
ScanHooks ViewerScanHooks(Viewer& viewer, const InterfaceStrings& strings);

class Workers {
 public:
  // gate: the scan's pause gate; table: the rule table the scan classifies
  // with. Sets itself as the viewer's list-reload starter.
  Workers(Viewer& viewer, Storage& storage, RuleTable& table, StoreScan& scan, PauseGate& gate,
          const InterfaceStrings& strings);
  ~Workers();  // Stop
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // True when a list reload was started; false while one still runs (or no
  // thread could be made, or the workers stop).
  bool StartListReload();
  // True when a re-check was started or one still runs (a second request is
  // absorbed); false when no thread could be made or the workers stop.
  bool StartRecheck();
  // One flag, not a counter: true when this call paused (resumed) the scan.
  // Pausing returns once the scan stands at a safe point.
  bool PauseScan();
  bool ResumeScan();

  // The thread bodies (run on the workers' threads; callable directly).
  int ListReloadThread();
  int RecheckThread();

  // The rules watch: every second, CheckRulesSignal.
  void StartRulesWatch();
  // When rs.dat changed since last seen: reloads the rule table and starts
  // a re-check; true when it did. A load that fails is tried again later.
  bool CheckRulesSignal();

  // Waits until no list reload and no re-check runs (the re-check's own
  // reload included).
  void Wait();
  // Ends every worker at its next safe point and joins it; later starts are
  // refused. The scan's pause is released.
  void Stop();

 private:
  struct Slot {
    std::thread thread;
    bool running = false;
  };
  bool Start(Slot& slot, int (Workers::*body)());

  Viewer& viewer_;
  Storage& storage_;
  RuleTable& table_;
  StoreScan& scan_;
  PauseGate& gate_;
  const InterfaceStrings& strings_;

  std::mutex slotsMutex_;  // guards: reload_, recheck_, stopping_
  std::condition_variable slotsChanged_;
  Slot reload_, recheck_;
  bool stopping_ = false;

  std::mutex pauseMutex_;  // guards: paused_ (and makes pause and resume one at a time)
  bool paused_ = false;

  PauseGate watchGate_;  // the rules watch's sleeps; stopped by Stop
  std::thread watch_;
  std::int64_t rulesStamp_ = -1;  // rs.dat as last seen (the watch's own)
};

}  // namespace varnox

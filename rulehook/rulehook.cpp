// librulehook.so: the SMS companion of Varnox. The program loads it once at
// start-up and calls DllRegisterServer, which starts the spool watcher. The
// program hands over its folders in the environment, as the export takes no
// arguments.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/pause_gate.h"
#include "platform/trace.h"
#include "rulehook/spool_watcher.h"

namespace varnox::rulehook {
namespace {

// The watcher and its thread; destroying it stops the watcher after its
// current look, so the end of the program never cuts a file's handling in
// half.
class Companion {
 public:
  Companion(const std::string& dataFolder, const std::string& spoolFolder)
      : watcher_(dataFolder, spoolFolder), thread_([this] { watcher_.Run(gate_); }) {}
  ~Companion() {
    gate_.Stop();
    thread_.join();
  }
  Companion(const Companion&) = delete;
  Companion& operator=(const Companion&) = delete;

 private:
  PauseGate gate_;
  SpoolWatcher watcher_;
  std::thread thread_;
};

std::mutex startLock;  // guards: companion
std::unique_ptr<Companion> companion;

// The first thing the end of the program does here: the watcher must stop
// before the statics it uses are destroyed, and handlers registered later
// run earlier. (The library is never really unloaded while the watcher runs:
// its thread-local state pins it.)
void StopCompanion() {
  std::lock_guard<std::mutex> guard(startLock);
  companion.reset();
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace
}  // namespace varnox::rulehook

// Starts the watcher once; later calls do nothing. 0 when it runs.
extern "C" __attribute__((visibility("default"))) int DllRegisterServer() noexcept {
  using namespace varnox::rulehook;
  try {
    std::lock_guard<std::mutex> guard(startLock);
    if (companion) return 0;
    const std::string data = Environment("VARNOX_DATA_FOLDER");
    const std::string spool = Environment("VARNOX_SMS_SPOOL");
    if (data.empty() || spool.empty()) {
      std::fprintf(stderr,
                   "varnox rulehook: VARNOX_DATA_FOLDER and VARNOX_SMS_SPOOL are not set; "
                   "SMS are not watched\n");
      return 1;
    }
    companion = std::make_unique<Companion>(data, spool);
    std::atexit(StopCompanion);
    varnox::Trace("rulehook: watching " + spool + "/incoming");
    return 0;
  } catch (...) {
    return 1;
  }
}

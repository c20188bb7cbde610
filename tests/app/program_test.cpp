// The whole program on a temporary root: start-up, one copy per root, the
// address it hands out, commands from the command line, and its end.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/program_process.h"
#include "support/run_command.h"
#include "support/temp_root.h"

namespace varnox {
namespace {

namespace fs = std::filesystem;
using testsupport::ProgramAddress;
using testsupport::ProgramProcess;
using testsupport::RunShell;
using testsupport::TempRoot;
using testsupport::WaitFor;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A started program and a client that carries its token.
struct Running {
  explicit Running(const std::string& root, std::vector<std::string> extra = {})
      : process(VARNOX_BINARY, [&] {
          std::vector<std::string> args{"--root", root, "--listen", "127.0.0.1:0"};
          args.insert(args.end(), extra.begin(), extra.end());
          return args;
        }()) {
    line = process.ReadLine();
    started = testsupport::ParseAddressLine(line, address);
  }
  nlohmann::json Window() {
    httplib::Client c(address.host, address.port);
    auto r = c.Get("/api/window", {{"Authorization", "Bearer " + address.token}});
    return r && r->status == 200 ? nlohmann::json::parse(r->body) : nlohmann::json();
  }
  int Command(const std::string& dialog, int id) {
    httplib::Client c(address.host, address.port);
    nlohmann::json body = {{"dialog", dialog}, {"id", id}};
    auto r = c.Post("/api/command", {{"Authorization", "Bearer " + address.token}}, body.dump(),
                    "application/json");
    return r ? r->status : -1;
  }
  ProgramProcess process;
  std::string line;
  ProgramAddress address;
  bool started = false;
};

TEST(Program, StartsOnceAHandsOutItsAddressAndEndsCleanly) {
  TempRoot root;
  Running first(root.path());
  ASSERT_TRUE(first.started) << first.line << first.process.Errors();
  // The address file holds the same address, readable by its owner only.
  const std::string file = root / ".ClassName";
  EXPECT_EQ("Varnox: " + Slurp(file), first.line + "\n");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // The window is there: the menu and the viewer.
  const nlohmann::json model = first.Window();
  ASSERT_TRUE(model.contains("dialogs"));
  EXPECT_EQ(model["dialogs"]["main"]["menu"].size(), 2u);
  EXPECT_TRUE(model["dialogs"]["120"]["open"].get<bool>());
  // Shipped content is in place from the first start.
  EXPECT_TRUE(fs::exists(root / "Varnox/Help/eng/index.eng.htm"));

  // A second copy on the root names the first one's address; the scan of the
  // command line is kept out as well.
  const auto second = RunShell(std::string(VARNOX_BINARY) + " --root " + root.path() +
                               " --listen 127.0.0.1:0 2>/dev/null");
  EXPECT_EQ(second.status, 255);
  EXPECT_EQ(second.out, first.line + "\n");
  EXPECT_EQ(testsupport::RunVarnox("scan --root " + root.path()), 255);

  // A taken port is named, with the option that chooses another.
  TempRoot other;
  const auto taken =
      RunShell(std::string(VARNOX_BINARY) + " --root " + other.path() +
               " --listen 127.0.0.1:" + std::to_string(first.address.port) + " 2>&1 >/dev/null");
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.out.find(std::to_string(first.address.port)), std::string::npos) << taken.out;
  EXPECT_NE(taken.out.find("--listen"), std::string::npos) << taken.out;

  EXPECT_EQ(first.process.Stop(SIGTERM), 0) << first.process.Errors();
  EXPECT_FALSE(fs::exists(file));
}

TEST(Program, ExitFromTheMenuEndsTheProcess) {
  TempRoot root;
  Running p(root.path());
  ASSERT_TRUE(p.started) << p.line << p.process.Errors();
  EXPECT_EQ(p.Command("main", 40008), 200);
  EXPECT_EQ(p.process.Wait(), 0);
}

TEST(Program, RecheckGoesThroughTheRunningProgramAndFallsBackToTheFiles) {
  TempRoot root;
  {
    Running p(root.path());
    ASSERT_TRUE(p.started) << p.line << p.process.Errors();
    // While the about box is open the command waits, then gives up.
    ASSERT_EQ(p.Command("main", 40006), 200);
    const auto busy = RunShell(std::string(VARNOX_BINARY) + " recheck --root " + root.path() +
                               " 2>&1 >/dev/null");
    EXPECT_EQ(busy.status, 1);
    EXPECT_NE(busy.out.find("dialog"), std::string::npos) << busy.out;
    ASSERT_EQ(p.Command("117", 20013), 200);
    const auto sent = RunShell(std::string(VARNOX_BINARY) + " recheck --root " + root.path());
    EXPECT_EQ(sent.status, 0);
    EXPECT_NE(sent.out.find("running program"), std::string::npos) << sent.out;
    // A kill leaves the address behind.
    EXPECT_EQ(p.process.Stop(SIGKILL), -1);
  }
  ASSERT_TRUE(fs::exists(root / ".ClassName"));
  // Stale: the lock is free, so the command works on the files itself.
  const auto files = RunShell(std::string(VARNOX_BINARY) + " recheck --root " + root.path());
  EXPECT_EQ(files.status, 0);
  EXPECT_NE(files.out.find("SMS: 0 checked, 0 changed"), std::string::npos) << files.out;
}

}  // namespace
}  // namespace varnox

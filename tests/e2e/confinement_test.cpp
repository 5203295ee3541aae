// What the renderer can still do once it has confined itself, seen from outside. The test twin of
// the renderer tries one operation after start-up (KFP_TEST_CONFINEMENT_PROBE) and reports the
// outcome on its standard error; operations only an attack would make end it with SIGSYS. Each
// operation also runs with the confinement switched off, which proves that the refusal comes from
// the confinement and not from the probe. The product itself is checked through /proc.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/e2e_renderer.h"
#include "support/fontconfig_file.h"

namespace kfp::test {
namespace {

namespace fs = std::filesystem;
using client::ProcessExit;

constexpr char kInstalledFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

enum class Outcome { kAllowed, kRefused, kKilled };

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kAllowed:
      return "allowed";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kKilled:
      return "killed by SIGSYS";
  }
  return "?";
}

// A TCP listener on 127.0.0.1 for the connect probe, so that a connection that gets through is
// seen to succeed.
class LoopbackListener {
 public:
  LoopbackListener() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackListener() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

class ConfinementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KFP_SKIP_UNDER_LAUNCHER();
    directory_ = fs::path(::testing::TempDir()) / ("confinement_" + std::to_string(getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override { fs::remove_all(directory_); }

  // Starts the twin with `probe`, confined or not, and returns what became of the probe.
  Outcome probe(const std::string& operation, bool confined, std::string* report) {
    setenv("KFP_TEST_CONFINEMENT_PROBE", operation.c_str(), 1);
    if (!confined) setenv("KFP_TEST_CONFINEMENT", "off", 1);
    RendererSession session(KFP_RENDERER_TESTHOOKS_PATH);
    unsetenv("KFP_TEST_CONFINEMENT_PROBE");
    unsetenv("KFP_TEST_CONFINEMENT");
    EXPECT_TRUE(session.started());
    // A confined renderer that survived its probe still answers.
    const bool answered = session.expectNothingPending();
    session.process().closeInput();
    const ProcessExit exit = session.process().waitForExit(kExitTimeout);
    *report = session.process().stderrText();
    if (exit.kind == ProcessExit::Kind::kSignaled && exit.value == SIGSYS) return Outcome::kKilled;
    EXPECT_TRUE(answered);
    EXPECT_TRUE(exit.exitedWith(0)) << exit.describe();
    const std::string line = "probe " + operation + ": ";
    if (report->find(line + "allowed") != std::string::npos) return Outcome::kAllowed;
    if (report->find(line + "refused") != std::string::npos) return Outcome::kRefused;
    ADD_FAILURE() << "no outcome reported: " << *report << " (" << exit.describe() << ")";
    return Outcome::kAllowed;
  }

  fs::path directory_;
};

TEST_F(ConfinementTest, ForbiddenOperationsAreRefusedOnceConfined) {
  ASSERT_TRUE(fs::exists(kInstalledFont)) << "test font not installed";
  const LoopbackListener listener;
  ASSERT_NE(listener.port(), 0);
  const fs::path existing = directory_ / "existing";
  struct Case {
    std::string operation;
    Outcome confined;
    std::optional<Outcome> unconfined;  // none where the probe would not come back to report
    // Sanitizer builds allow clone and ptrace: their leak check stops the process under a tracer.
    bool leakCheckNeedsIt = false;
  };
  const Case kCases[] = {
      {"read:" + std::string(KFP_SOURCE_README), Outcome::kRefused, Outcome::kAllowed},
      {"read:" + std::string(kInstalledFont), Outcome::kAllowed, Outcome::kAllowed},
      {"create:" + (directory_ / "created").string(), Outcome::kRefused, Outcome::kAllowed},
      {"write:" + existing.string(), Outcome::kRefused, Outcome::kAllowed},
      {"truncate:" + existing.string(), Outcome::kRefused, Outcome::kAllowed},
      {"socket", Outcome::kKilled, Outcome::kAllowed},
      {"connect:" + std::to_string(listener.port()), Outcome::kKilled, Outcome::kAllowed},
      {"execve:/bin/true", Outcome::kKilled, std::nullopt},
      {"ptrace", Outcome::kKilled, std::nullopt, true},
      {"fork", Outcome::kKilled, Outcome::kAllowed, true},
      {"thread", Outcome::kRefused, Outcome::kAllowed, true},
      {"signal:" + std::to_string(getpid()), Outcome::kRefused, Outcome::kAllowed},
      {"exec-memory", Outcome::kRefused, Outcome::kAllowed},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.operation);
#ifdef KFP_SANITIZED
    if (c.leakCheckNeedsIt) continue;
#endif
    std::ofstream(existing) << "kept";
    fs::remove(directory_ / "created");
    std::string report;
    EXPECT_STREQ(outcomeName(probe(c.operation, true, &report)), outcomeName(c.confined)) << report;
    EXPECT_EQ(fs::file_size(existing), 4u) << "the confined probe changed a file";
    EXPECT_FALSE(fs::exists(directory_ / "created")) << "the confined probe created a file";
    if (c.unconfined) {
      SCOPED_TRACE("unconfined control");
      std::ofstream(existing) << "kept";
      fs::remove(directory_ / "created");
      EXPECT_STREQ(outcomeName(probe(c.operation, false, &report)), outcomeName(*c.unconfined))
          << report;
    }
  }
}

// A font directory may hold links to font files elsewhere: the file a link leads to stays readable,
// and nothing else beside it.
TEST_F(ConfinementTest, AnIndexedLinkToAFontElsewhereStaysReadable) {
  ASSERT_TRUE(fs::exists(kInstalledFont)) << "test font not installed";
  const fs::path fonts = directory_ / "fonts", elsewhere = directory_ / "elsewhere";
  fs::create_directories(fonts);
  fs::create_directories(elsewhere);
  fs::copy_file(kInstalledFont, elsewhere / "linked.ttf");
  std::ofstream(elsewhere / "beside.txt") << "not a font";
  fs::create_symlink(elsewhere / "linked.ttf", fonts / "linked.ttf");
  const fs::path config = directory_ / "fonts.conf";
  writeFontconfigFile(config, fonts, directory_ / "cache");
  setenv("FONTCONFIG_FILE", config.c_str(), 1);

  RendererSession session(kRendererPath);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(
      session.client().registerFontsAndWait({{.fontId = "f", .familyName = "DejaVu Sans"}}));
  client::LayoutRequest request;
  request.generation = 1;
  request.text = "linked";
  request.fontIds = {"f"};
  const auto rendered = session.client().renderAndWait(request);
  ASSERT_TRUE(rendered) << rendered.error();
  ASSERT_EQ(rendered->size(), 1u);
  EXPECT_TRUE((*rendered)[0].resolved) << (*rendered)[0].error;
  EXPECT_TRUE(session.expectCleanEnd());

  std::string report;
  EXPECT_EQ(probe("read:" + (elsewhere / "beside.txt").string(), true, &report), Outcome::kRefused)
      << report;
  unsetenv("FONTCONFIG_FILE");
}

// The layers this kernel offers are all in force, in the twin as in the product.
TEST_F(ConfinementTest, EveryLayerTheKernelOffersIsApplied) {
  std::string report;
  ASSERT_EQ(probe("read:" + std::string(KFP_SOURCE_README), true, &report), Outcome::kRefused);
  EXPECT_NE(report.find("layers: no_new_privs, Landlock ABI "), std::string::npos) << report;
  EXPECT_NE(report.find(", seccomp\n"), std::string::npos) << report;

  RendererSession product(kRendererPath);
  ASSERT_TRUE(product.started());
  ASSERT_TRUE(product.expectNothingPending());
  std::ifstream status("/proc/" + std::to_string(product.process().pid()) + "/status");
  std::string line, noNewPrivileges, seccompMode;
  while (std::getline(status, line)) {
    if (line.rfind("NoNewPrivs:", 0) == 0) noNewPrivileges = line;
    if (line.rfind("Seccomp:", 0) == 0) seccompMode = line;
  }
  EXPECT_EQ(noNewPrivileges, "NoNewPrivs:\t1");
  EXPECT_EQ(seccompMode, "Seccomp:\t2");  // a filter
  EXPECT_TRUE(product.expectCleanEnd());
}

}  // namespace
}  // namespace kfp::test

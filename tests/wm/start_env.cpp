// Starts the base library (log on, into "debug.log") and the window manager
// once for every test of the process, and stops them at the end.
#include "base/base.h"
#include "support.h"

namespace {

class WindowManagerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    wmtest::StartBase({"/opt/demo/wmtest", "-v"});
    wmtest::g_init_result = wmInit();
    wmtest::g_init_error = errGetLastError();
  }
  void TearDown() override {
    wmDone();
    SYS_BaseDone();
  }
};

[[maybe_unused]] ::testing::Environment *const g_environment =
    ::testing::AddGlobalTestEnvironment(new WindowManagerEnvironment);

}  // namespace

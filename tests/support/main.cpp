// Test entry point: every test process runs in a fresh scratch directory of its
// own (ctest starts one process per test case), so log files, memory reports and
// fixtures never collide between tests running side by side. The directory is
// removed when every test passed and kept for a look when one failed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = fs::current_path(ec);
  std::string pattern = (base / "run-XXXXXX").string();
  std::string scratch;
  if (mkdtemp(pattern.data())) {
    scratch = pattern;
    fs::current_path(scratch, ec);
  }
  int rc = RUN_ALL_TESTS();
  if (rc == 0 && !scratch.empty()) {
    fs::current_path(base, ec);
    fs::remove_all(scratch, ec);
  }
  return rc;
}

// A test with a scratch folder of its own, and the ways its tests run the
// programs and the tools of the field in it.
#ifndef BFSSCAN_SCRATCH_TEST_H
#define BFSSCAN_SCRATCH_TEST_H

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"

class ScratchTest : public ::testing::Test {
 protected:
  TempDir dir;

  // Runs bfsscan with args in dir.
  RunResult bfsscan(std::vector<std::string> args) {
    args.insert(args.begin(), BFSSCAN_BIN);
    return run(args, dir.path());
  }
  // Writes data as the file name of dir.
  void file(const std::string& name, const std::string& data) {
    mkbfs::ImageWriter(dir / name).write(0, data);
  }
  // Runs mkbfs in dir; fails the test when it fails.
  void mkbfs(std::vector<std::string> args) {
    args.insert(args.begin(), MKBFS_BIN);
    const RunResult r = run(args, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  // Runs a shell command in dir; skips the test when a tool is missing.
  void sh(const std::string& command, const std::vector<std::string>& tools) {
    for (const std::string& t : tools) {
      if (tool(t).empty()) GTEST_SKIP() << t << " is not installed";
    }
    const RunResult r = run({"/bin/sh", "-c", command}, dir.path());
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
  }
};

// The records of type in a JSON Lines text, in order.
inline std::vector<nlohmann::json> records(const std::string& text, const std::string& type) {
  std::vector<nlohmann::json> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    nlohmann::json j = nlohmann::json::parse(line);
    if (j["type"] == type) out.push_back(j);
  }
  return out;
}

#endif  // BFSSCAN_SCRATCH_TEST_H

// Runs the built ostrel-packaging tool as a user would.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <boost/json.hpp>

namespace json = boost::json;

namespace {

std::string tool() {
  const char* dir = std::getenv("OSTREL_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/ostrel-packaging";
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
  ::pclose(pipe);
  return out;
}

std::string run_tool(const std::string& input, const std::string& args = "") {
  const std::string path = testing::TempDir() + "/packaging_requests.jsonl";
  std::ofstream(path) << input;
  return run("'" + tool() + "' " + args + " < '" + path + "'");
}

}  // namespace

TEST(PackagingTool, AnswersEachLineEvenAfterAMalformedOne) {
  const std::string out = run_tool(
      "{\"op\":\"compare\",\"a\":\"1.0.post1\",\"b\":\"1.0\"}\n"
      "not json\n"
      "{\"op\":\"frobnicate\"}\n"
      "{\"op\":\"contains\",\"specifier\":\"banana\",\"version\":\"1.0\",\"prereleases\":null}\n"
      "{\"op\":\"wheel\",\"filename\":\"a-1-99999999999999999999999-py3-none-any.whl\"}\n"
      "{\"op\":\"version_newer\",\"latest\":\"1.2.0\",\"current\":\"1.2\"}\n");
  EXPECT_EQ(out,
            "{\"ok\":true,\"result\":1}\n"
            "{\"ok\":false,\"error\":\"malformed request: syntax error\"}\n"
            "{\"ok\":false,\"error\":\"unknown op: frobnicate\"}\n"
            "{\"ok\":false,\"error\":\"Invalid specifier: 'banana'\"}\n"
            "{\"ok\":true,\"result\":{\"name\":\"a\",\"version\":\"1\",\"build\":[99999999999999999999999,\"\"],"
            "\"tags\":[\"py3-none-any\"]}}\n"
            "{\"ok\":true,\"result\":true}\n");
}

// The tags computed from this machine's interpreter facts are exactly the
// list the Python packaging tools give for that interpreter, in order.
TEST(PackagingTool, TagsMatchTheMachineInterpreter) {
  const std::string python = "/usr/bin/python3";
  const std::string expected = run(python + " -c 'import json; from packaging.tags import sys_tags; "
                                            "print(json.dumps([str(t) for t in sys_tags()]))'");
  ASSERT_FALSE(expected.empty()) << "python3-packaging is not installed";
  const json::value answer = json::parse(run_tool("{\"op\":\"tags\"}\n", "--python " + python));
  ASSERT_TRUE(answer.at("ok").as_bool()) << json::serialize(answer);
  EXPECT_EQ(answer.at("result"), json::parse(expected));
}

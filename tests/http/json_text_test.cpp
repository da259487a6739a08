#include "http/json_text.hpp"
#include "http/response.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace ostrel::http {
namespace {

namespace json = boost::json;

TEST(JsonText, CompactKeepsOrderUtf8AndShortestDoubles) {
  json::object o{{"b", 1}, {"a", json::array{true, nullptr, 1.0, 1700000000.1234567, 0.1, -2.5e-8}}, {"t", "é\"\n\x01"}};
  EXPECT_EQ(to_json(o), "{\"b\":1,\"a\":[true,null,1.0,1700000000.1234567,0.1,-2.5e-08],\"t\":\"é\\\"\\n\\u0001\"}");
}

TEST(JsonText, FileFormIsIndentedAndAsciiEscaped) {
  json::object o{{"name", "café 😀"}, {"list", json::array{1, 2}}, {"empty", json::object{}}};
  EXPECT_EQ(to_json_file_text(o),
            "{\n  \"name\": \"caf\\u00e9 \\ud83d\\ude00\",\n  \"list\": [\n    1,\n    2\n  ],\n  \"empty\": {}\n}");
}

TEST(JsonText, InvalidUtf8BecomesReplacementCharacter) {
  EXPECT_EQ(to_json(json::string("a\xff" "b")), "\"a\xEF\xBF\xBD" "b\"");
  EXPECT_EQ(to_json_file_text(json::string("a\xc3")), "\"a\\ufffd\"");
}

TEST(Response, AttachmentNamesSurviveNonAscii) {
  auto plain = file_response("/tmp/x", "report.pdf", "application/pdf");
  EXPECT_EQ(*plain.header("Content-Disposition"), "attachment; filename=\"report.pdf\"");
  auto accented = file_response("/tmp/x", "résumé \"v2\".txt", "text/plain");
  EXPECT_EQ(*accented.header("Content-Disposition"),
            "attachment; filename=\"r_sum_ \\\"v2\\\".txt\"; filename*=UTF-8''r%C3%A9sum%C3%A9%20%22v2%22.txt");
}

}  // namespace
}  // namespace ostrel::http

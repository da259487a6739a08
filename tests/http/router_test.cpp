#include "http/http_error.hpp"
#include "http/records.hpp"
#include "http/router.hpp"
#include "support/test_client.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace ostrel::http {
namespace {

namespace json = boost::json;
using testing::TestClient;
using boost::asio::awaitable;

struct Sample {
  std::string name;
  std::int64_t count = 3;
  bool flag = false;
  std::optional<std::string> note;
  json::object extra;
  TextMapping headers;
  std::vector<TextMapping> steps;
  static constexpr std::array kRequired{std::string_view{"name"}};
};
BOOST_DESCRIBE_STRUCT(Sample, (), (name, count, flag, note, extra, headers, steps))

// A handler that echoes what it was given, so tests see exactly what reached it.
awaitable<Result> echo(Call& call) {
  json::object out;
  for (auto name : {"id", "n", "q", "rest"}) {
    try {
      out[name] = call.integer(name);
    } catch (const std::logic_error&) {
      if (auto t = call.text(name)) out[name] = *t;
    }
  }
  co_return json::value(out);
}

awaitable<Result> echo_record(Call& call) {
  const auto& s = call.body<Sample>();
  json::object out{{"name", s.name}, {"count", s.count}, {"flag", s.flag},
                   {"note", s.note ? json::value(*s.note) : json::value(nullptr)},
                   {"extra", s.extra}, {"headers", s.headers.values}};
  co_return json::value(out);
}

Handler answer(json::value v) {
  return [v](Call&) -> awaitable<Result> { co_return v; };
}

Handler fail_with(std::function<void()> thrower) {
  return [thrower](Call&) -> awaitable<Result> {
    thrower();
    co_return json::value(nullptr);
  };
}

Router sample_router() {
  Router inner("/things");
  inner.add({Verb::get, "/active", "active", answer(json::object{{"which", "active"}}), Returns::mapping});
  inner.add({Verb::get, "/need", "need", echo, Returns::mapping, {query_text_required("q")}});
  inner.add({Verb::get, "/{id}", "by_id", echo, Returns::mapping});
  inner.add({Verb::delete_, "/{id}", "delete_by_id", echo, Returns::mapping, {path_integer("id")}});
  inner.add({Verb::get, "/files/{rest:path}", "rest", echo, Returns::mapping});
  inner.add({Verb::get, "", "root", echo, Returns::mapping, {query_integer("n", 50), query_text("q")}});
  inner.add({Verb::post, "/records", "record", echo_record, Returns::mapping, {}, record_body<Sample>("Sample")});
  inner.add({Verb::post, "/free", "free", answer(json::object{}), Returns::mapping, {}, free_object_body()});
  Router app;
  app.include(inner, "/api");
  app.add({Verb::get, "/boom/http", "boom_http", fail_with([] { throw HttpError(404, "Plan x not found"); }), Returns::mapping});
  app.add({Verb::get, "/boom/other", "boom_other", fail_with([] { throw std::runtime_error("secret"); }), Returns::mapping});
  app.add({Verb::get, "/kind/list", "list_kind", answer(json::object{}), Returns::mapping_list});
  app.add({Verb::get, "/kind/texts", "texts_kind", answer(json::object{{"a", 1}}), Returns::text_mapping});
  app.add({Verb::get, "/kind/null", "null_kind", answer(nullptr), Returns::mapping_or_null});
  return app;
}

TEST(Router, MatchesInRegistrationOrderAndDecodesPaths) {
  Router app = sample_router();
  TestClient client(app);
  EXPECT_EQ(client.get("/api/things/active").json(), json::parse(R"({"which":"active"})"));
  EXPECT_EQ(client.get("/api/things/a%20b").json(), json::parse(R"({"id":"a b"})"));
  EXPECT_EQ(client.get("/api/things/files/a/b%2Fc.txt").json(), json::parse(R"({"rest":"a/b/c.txt"})"));
  EXPECT_EQ(client.get("/api/things/files/").json(), json::parse(R"({"rest":""})"));
  EXPECT_EQ(client.get("/api/things").json(), json::parse(R"({"n":50})"));
  EXPECT_EQ(client.get("/api/things?n=7&q=caf%C3%A9&n=8").json(), json::parse(R"({"n":8,"q":"café"})"));
  EXPECT_EQ(client.del("/api/things/12").json(), json::parse(R"({"id":12})"));
}

TEST(Router, UnknownPathAndWrongMethod) {
  Router app = sample_router();
  TestClient client(app);
  auto missing = client.get("/api/nothing");
  EXPECT_EQ(missing.status(), 404u);
  EXPECT_EQ(missing.json(), json::parse(R"({"detail":"Not Found"})"));
  auto wrong = client.request(Verb::put, "/api/things/1", "{}");
  EXPECT_EQ(wrong.status(), 405u);
  EXPECT_EQ(wrong.json(), json::parse(R"({"detail":"Method Not Allowed"})"));
  ASSERT_NE(wrong.header("Allow"), nullptr);
  EXPECT_EQ(*wrong.header("Allow"), "GET, DELETE");
}

TEST(Router, ParameterErrorsAre422WithEveryFailingField) {
  Router app = sample_router();
  TestClient client(app);
  auto bad_path = client.del("/api/things/abc");
  EXPECT_EQ(bad_path.status(), 422u);
  EXPECT_EQ(bad_path.json(), json::parse(R"({"detail":[{"type":"int_parsing","loc":["path","id"],
      "msg":"Input should be a valid integer, unable to parse string as an integer","input":"abc"}]})"));
  auto bad_query = client.get("/api/things?n=1.5");
  EXPECT_EQ(bad_query.status(), 422u);
  EXPECT_EQ(bad_query.json().at("detail").at(0).at("loc"), json::parse(R"(["query","n"])"));
  auto missing = client.get("/api/things/need");
  EXPECT_EQ(missing.status(), 422u);
  EXPECT_EQ(missing.json().at("detail").at(0).at("type"), "missing");
}

TEST(Router, RecordBodiesFillDefaultsConvertAndReportEveryField) {
  Router app = sample_router();
  TestClient client(app);
  auto ok = client.post("/api/things/records", json::parse(R"({"name":"x","unknown":1})"));
  EXPECT_EQ(ok.status(), 200u);
  EXPECT_EQ(ok.json(), json::parse(R"({"name":"x","count":3,"flag":false,"note":null,"extra":{},"headers":{}})"));

  auto converted = client.post("/api/things/records",
                               json::parse(R"({"name":"x","count":"42","flag":"Yes","note":null,"headers":{"a":"b"}})"));
  EXPECT_EQ(converted.json(),
            json::parse(R"({"name":"x","count":42,"flag":true,"note":null,"extra":{},"headers":{"a":"b"}})"));
  auto from_float = client.post("/api/things/records", json::parse(R"({"name":"x","count":2.0})"));
  EXPECT_EQ(from_float.json().at("count"), 2);

  // Every failing field is listed, each with its own type.
  auto bad = client.post("/api/things/records", json::parse(R"({"count":"4x","flag":"maybe","note":5,
      "extra":[1],"headers":{"a":1},"steps":[{"k":"v"},{"k":2}],"name":null})"));
  ASSERT_EQ(bad.status(), 422u) << bad.raw.body;
  const json::value failing = bad.json();
  json::array types;
  for (const auto& e : failing.at("detail").as_array()) types.push_back(e.at("type"));
  EXPECT_EQ(json::value(types), json::parse(R"(["string_type","int_parsing","bool_parsing","string_type",
      "dict_type","string_type","string_type"])"));
  EXPECT_EQ(bad.json().at("detail").at(5).at("loc"), json::parse(R"(["body","headers","a"])"));
  EXPECT_EQ(bad.json().at("detail").at(6).at("loc"), json::parse(R"(["body","steps",1,"k"])"));

  struct Case { std::string body; std::string type; };
  for (const Case& c : {Case{"[1]", "model_attributes_type"}, Case{"", "missing"}, Case{"{not json", "json_invalid"},
                        Case{R"({"name":"x","count":2.5})", "int_from_float"}, Case{R"({"name":"x","flag":2})", "bool_parsing"},
                        Case{R"({})", "missing"}}) {
    auto r = client.request(Verb::post, "/api/things/records", c.body);
    EXPECT_EQ(r.status(), 422u) << c.body;
    EXPECT_EQ(r.json().at("detail").at(0).at("type"), json::value(c.type)) << c.body;
  }
  auto list_body = client.request(Verb::post, "/api/things/free", "[1,2]");
  EXPECT_EQ(list_body.status(), 422u);
  EXPECT_EQ(list_body.json().at("detail").at(0).at("type"), "dict_type");
}

TEST(Router, HandlerErrorsAndDeclaredKinds) {
  Router app = sample_router();
  TestClient client(app);
  struct Case { std::string target; unsigned status; std::string body; };
  for (const Case& c : {Case{"/boom/http", 404, R"({"detail":"Plan x not found"})"},
                        Case{"/boom/other", 500, R"({"detail":"Internal Server Error"})"},
                        Case{"/kind/list", 500, R"({"detail":"Internal Server Error"})"},
                        Case{"/kind/texts", 500, R"({"detail":"Internal Server Error"})"},
                        Case{"/kind/null", 200, "null"}}) {
    auto r = client.get(c.target);
    EXPECT_EQ(r.status(), c.status) << c.target;
    EXPECT_EQ(r.raw.body, c.body) << c.target;
  }
}

}  // namespace
}  // namespace ostrel::http

#include "http/docs_page.hpp"

#include "http/request_guard.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <memory>
#include <system_error>

namespace ostrel::http {

namespace {

namespace fs = std::filesystem;

std::string html_escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

bool assets_present(const fs::path& dir) {
  std::error_code ec;
  return fs::is_regular_file(dir / "swagger-ui-bundle.js", ec) && fs::is_regular_file(dir / "swagger-ui.css", ec);
}

std::string swagger_page(const DocsOptions& o) {
  // The URL is written into a script as a JSON string; escape_html covers the quote and '<'.
  return fmt::format(R"(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{0}</title>
<link rel="stylesheet" href="/docs/assets/swagger-ui.css">
</head>
<body>
<div id="swagger-ui"></div>
<script src="/docs/assets/swagger-ui-bundle.js"></script>
<script>
window.ui = SwaggerUIBundle({{url: "{1}", dom_id: "#swagger-ui", deepLinking: true}});
</script>
</body>
</html>
)",
                     html_escape(o.title), html_escape(o.openapi_url));
}

std::string missing_assets_page(const DocsOptions& o) {
  return fmt::format(R"(<!doctype html>
<html lang="en">
<head><meta charset="utf-8"><title>{0}</title></head>
<body>
<h1>{0}</h1>
<p>The interactive page needs Swagger UI (the npm package swagger-ui-dist), which is not installed beside
this program (looked in <code>{1}</code>).</p>
<p>In the source folder, run <code>make run</code>, or <code>bash scripts/fetch-docs-assets.sh build/web</code>
and build again; then reload this page.</p>
<p>The API description itself is at <a href="{2}">{2}</a>.</p>
</body>
</html>
)",
                     html_escape(o.title), html_escape(o.assets_dir.string()), html_escape(o.openapi_url));
}

std::string media_type(const fs::path& file) {
  static const std::pair<std::string_view, std::string_view> kTypes[] = {
      {".js", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
      {".html", "text/html; charset=utf-8"},     {".json", "application/json"},
      {".map", "application/json"},              {".png", "image/png"},
      {".svg", "image/svg+xml"},                 {".ico", "image/x-icon"},
  };
  const std::string ext = file.extension().string();
  for (const auto& [e, type] : kTypes)
    if (e == ext) return std::string(type);
  return "application/octet-stream";
}

// A plain file name: no folders, no hidden files, nothing a path could be made of.
bool plain_file_name(std::string_view name) {
  return !name.empty() && name.front() != '.' && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
  });
}

// The file `name` directly inside `dir`, after links are resolved; nothing otherwise.
std::optional<fs::path> asset_file(const fs::path& dir, std::string_view name) {
  if (!plain_file_name(name)) return std::nullopt;
  std::error_code ec;
  fs::path root = fs::canonical(dir, ec);
  if (ec) return std::nullopt;
  fs::path file = fs::canonical(root / std::string(name), ec);
  if (ec || file.parent_path() != root || !fs::is_regular_file(file, ec)) return std::nullopt;
  return file;
}

Route own_response_route(std::string path, std::string name, std::string description) {
  Route r;
  r.method = Verb::get;
  r.path = std::move(path);
  r.name = std::move(name);
  r.result = Returns::own_response;
  r.description = std::move(description);
  return r;
}

Route docs_page_route(std::shared_ptr<const DocsOptions> o) {
  Route r = own_response_route("/docs", "docs_page", "Interactive page for the API description.");
  r.handler = [o](Call&) -> boost::asio::awaitable<Result> {
    std::string page = assets_present(o->assets_dir) ? swagger_page(*o) : missing_assets_page(*o);
    co_return raw_response(std::move(page), "text/html; charset=utf-8");
  };
  return r;
}

Route docs_asset_route(std::shared_ptr<const DocsOptions> o) {
  Route r = own_response_route("/docs/assets/{file}", "docs_asset", "A file of the interactive API page.");
  r.handler = [o](Call& call) -> boost::asio::awaitable<Result> {
    auto file = asset_file(o->assets_dir, call.path("file"));
    if (!file) co_return error_response(404, "Not Found");
    Response answer;
    answer.content_type = media_type(*file);
    answer.file = std::move(*file);
    answer.headers.emplace_back("Cache-Control", "public, max-age=3600");
    co_return answer;
  };
  return r;
}

Route auth_route(std::shared_ptr<const DocsOptions> o) {
  Route r = own_response_route("/auth", "authenticate",
                                "Stores the access token in a browser cookie, then opens the API page.");
  r.params = {query_text("token")};
  r.handler = [o](Call& call) -> boost::asio::awaitable<Result> {
    Response answer;
    answer.status = 303;
    answer.content_type.clear();
    answer.headers.emplace_back("Location", "/docs");
    answer.headers.emplace_back("Referrer-Policy", "no-referrer");
    if (o->access_token) {
      auto given = call.text("token");
      if (!given || !constant_time_equal(*given, *o->access_token)) co_return error_response(401, "Not authenticated");
      answer.headers.emplace_back("Set-Cookie",
                                  fmt::format("{}={}; HttpOnly; SameSite=Strict; Path=/", kTokenCookie, *o->access_token));
    }
    co_return answer;
  };
  return r;
}

}  // namespace

fs::path default_docs_assets_dir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (ec ? fs::current_path(ec) : exe.parent_path()) / "swagger-ui";
}

std::vector<Route> docs_routes(DocsOptions options) {
  auto o = std::make_shared<const DocsOptions>(std::move(options));
  return {docs_page_route(o), docs_asset_route(o), auth_route(o)};
}

}  // namespace ostrel::http

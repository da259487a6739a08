#pragma once
// The interactive API page: GET /docs (Swagger UI over /openapi.json), its asset files, and
// GET /auth, which hands the browser the access token as a cookie so the page can call the API.
#include "http/router.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::http {

struct DocsOptions {
  std::filesystem::path assets_dir;          // the swagger-ui-dist files
  std::optional<std::string> access_token;   // absent: /auth only redirects
  std::string title = "Ostrel gateway API";
  std::string openapi_url = "/openapi.json";
};

// <folder of the running program>/swagger-ui
std::filesystem::path default_docs_assets_dir();

// GET /docs, GET /docs/assets/{file} (files directly inside assets_dir only) and GET /auth.
std::vector<Route> docs_routes(DocsOptions options);

}  // namespace ostrel::http

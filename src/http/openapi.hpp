#pragma once
// The OpenAPI 3.1 document of a route table: every route with its method, path, handler name,
// description, parameters, body schema and the schema of its declared result.
#include "http/router.hpp"

#include <boost/json/object.hpp>

#include <string_view>

namespace ostrel::http {

boost::json::object openapi_document(const Router& router, std::string_view title, std::string_view version);

// GET /openapi.json serving the document of `documented`, built once on first use.
// `documented` must outlive the route.
Route openapi_route(const Router& documented, std::string title, std::string version);

}  // namespace ostrel::http

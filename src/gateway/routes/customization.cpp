#include "gateway/routes/customization.hpp"

#include "gateway/live_update_sender.hpp"
#include "gateway/workspace/file_text.hpp"
#include "gateway/workspace/paths.hpp"
#include "http/response.hpp"

#include <array>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel::gateway::routes {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kTheme = "custom-theme.css";
constexpr std::string_view kLayout = "ui-config.json";
constexpr std::array<std::string_view, 2> kFiles{kTheme, kLayout};  // in the order a reset reports them

fs::path customization_folder() { return workspace::home_folder() / ".ostrel" / "customization"; }

// A customization file's text; its bytes must be UTF-8, the encoding the files are written in.
std::string read_text(const fs::path& file) {
  std::string text = workspace::read_whole(file);
  if (!workspace::valid_utf8(text)) throw std::runtime_error(file.string() + " is not UTF-8 text");
  return text;
}

}  // namespace

awaitable<Result> get_custom_theme_css(Call&, const AppState&) {
  const fs::path file = customization_folder() / kTheme;
  if (!fs::exists(file)) co_return http::raw_response("/* no custom theme */", "text/css; charset=utf-8");
  http::Response r = http::raw_response(read_text(file), "text/css; charset=utf-8");
  r.headers.emplace_back("Cache-Control", "no-cache");
  co_return r;
}

awaitable<Result> get_ui_config(Call&, const AppState&) {
  const fs::path file = customization_folder() / kLayout;
  json::value layout = json::object{};
  if (fs::exists(file)) {
    boost::system::error_code ec;
    json::value parsed = json::parse(read_text(file), ec);
    if (!ec) layout = std::move(parsed);
  }
  co_return http::json_response(layout);
}

awaitable<Result> reset_customization(Call&, const AppState& state) {
  const fs::path folder = customization_folder();
  json::array removed;
  for (std::string_view name : kFiles) {
    if (fs::exists(folder / name)) {
      fs::remove(folder / name);
      removed.emplace_back(name);
    }
  }
  // The reset stands even when no interface can be told.
  if (state.live_updates) {
    json::object notice;
    notice["type"] = "ui_customization_updated";
    notice["changed"] = "all";
    try {
      co_await state.live_updates->broadcast(std::move(notice));
    } catch (const std::exception&) {
    }
  }
  json::object answer;
  answer["status"] = "ok";
  answer["removed"] = std::move(removed);
  co_return http::json_response(answer);
}

}  // namespace ostrel::gateway::routes

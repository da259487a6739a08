#pragma once
#include "gateway/routes/handler.hpp"

namespace ostrel::gateway::routes {

// GET /customization/theme.css: the user's style sheet, or a placeholder comment.
awaitable<Result> get_custom_theme_css(Call& call, const AppState& state);
// GET /customization/ui-config.json: the user's layout configuration, or {}.
awaitable<Result> get_ui_config(Call& call, const AppState& state);
// POST /customization/reset: deletes both files and tells every connected interface.
awaitable<Result> reset_customization(Call& call, const AppState& state);

}  // namespace ostrel::gateway::routes

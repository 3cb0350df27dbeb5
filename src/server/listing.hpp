#pragma once
// The "tools/list" answer: the whole catalogue, in its order, with input schemas.
#include <nlohmann/json.hpp>

// The result object {"tools": [...]}, one entry of name, description and inputSchema a tool;
// for a request of the per-request revision (`modern`) each entry also carries its title and
// all four annotation hints. Params of tools/list (a paging cursor included) play no part: the
// list is one page.
nlohmann::ordered_json toolList(bool modern);

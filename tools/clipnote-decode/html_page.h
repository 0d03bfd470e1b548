// The message as one self-contained web page: the browser player's page (built under web/,
// with the decoders as WebAssembly inside) with the message in place of its built-in one.
// It plays when opened straight from disk, in any browser. The page is found at
// $CLIPNOTE_WEB_PAGE, else at build/web/clipnote_message.html of the checkout the program
// was built in. `clipnote-decode html` and `make-message --html` write it.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "tools/clipnote-decode/message_input.h"

std::filesystem::path PagePath();

// True when the player page is there; else false with the sentence saying where it was looked for.
bool HavePlayerPage(std::string& error);

// The page carrying `message`, its clips named after `name` (a file name); nothing, with the
// reason, when there is no player page. `warning` hears of a logo the page cannot carry.
std::optional<std::string> MessagePage(const MessageInput& message, const std::string& name, std::string& error,
                                       const std::function<void(const std::string&)>& warning = {});

#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tidewell::webfolder {

// The pages of the service's web site that the client opens in the browser: the site's root
// (the login help link), service renewal and help.
struct WebPage {
    std::string_view path;
    std::string_view title;
    std::string_view body;  // HTML inside <body>
};

std::span<const WebPage> WebPages();

// A whole UTF-8 HTML document for the page.
std::string RenderPage(const WebPage& page);

}  // namespace tidewell::webfolder

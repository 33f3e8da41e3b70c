// Page assembly and writing.
#include "html_page.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "html_assets.h"

namespace pltfm::tools {

namespace {

std::string escape_html(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// JSON inside a script element must not contain "</script" or "<!--"; a '<' only stands in
// strings, where \u003c means the same.
std::string script_safe(const std::string &json) {
    std::string out;
    out.reserve(json.size());
    for (char c : json) {
        if (c == '<')
            out += "\\u003c";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string html_page(PageKind kind, const std::string &title, const std::string &json) {
    const char *script = kind == PageKind::tuning_report ? html_assets::tuning_report_js
                                                         : html_assets::switch_run_js;
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += "<title>" + escape_html(title) + "</title>\n";
    page += "<style>\n" + std::string(html_assets::page_css) + "</style>\n";
    page += "<script>\n" + std::string(html_assets::page_js) + "</script>\n";
    page += "</head>\n<body>\n<main id=\"page\"></main>\n<div id=\"tip\" hidden></div>\n";
    page +=
        "<script type=\"application/json\" id=\"page-data\">" + script_safe(json) + "</script>\n";
    page += "<script>\n" + std::string(script) + "</script>\n</body>\n</html>\n";
    return page;
}

std::string write_page(const std::string &path, const std::string &text) {
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            const std::string why = std::strerror(errno);
            std::remove(tmp.c_str());
            return "cannot write " + path + ": " + why;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        std::remove(tmp.c_str());
        return "cannot write " + path + ": " + why;
    }
    return "";
}

}  // namespace pltfm::tools

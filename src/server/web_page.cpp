// Filling the page in: the title, escaped for HTML, and the widgets and the
// kinds' fields as JSON, escaped for a script element.
#include "server/web_page.hpp"

#include <cstdint>
#include <cstdio>
#include <type_traits>

#include "base/identity_key.hpp"
#include "base/widget_kinds.hpp"

namespace vantu {
namespace {

void append_html(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
}

void append_unicode_escape(std::string& out, unsigned code) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", code);
    out += escape;
}

// A JSON string that may stand inside a script element: no "</script",
// "<!--" or "]]>" can form, and the line separators that older script
// parsers end a line at are escaped too.
void append_json(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
            append_unicode_escape(out, 0x2028 + (static_cast<unsigned char>(text[i + 2]) & 1));
            i += 2;
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            append_unicode_escape(out, c);
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

template <class T>
constexpr std::string_view type_name() {
    if constexpr (std::is_same_v<T, bool>) return "bool";
    else if constexpr (std::is_same_v<T, std::uint8_t>) return "u8";
    else if constexpr (std::is_same_v<T, float>) return "f32";
    else {
        static_assert(std::is_same_v<T, Coord>, "a field type the page cannot send");
        return "Coord";
    }
}

// {"ClickButton": [], "ToggleButton": [["value", "bool"]], ...}, from the
// table of kinds, so that the page writes each kind's fields in their order.
void append_kinds(std::string& out) {
    out += '{';
    bool first_kind = true;
    std::apply(
        [&](const auto&... kind) {
            ((out += first_kind ? "" : ", ", first_kind = false, append_json(out, kind.name),
              out += ": [", [&] {
                  bool first = true;
                  for_each_field(kind, [&](const auto& f) {
                      out += first ? "[" : ", [";
                      first = false;
                      append_json(out, f.name);
                      out += ", ";
                      append_json(out, type_name<typename std::remove_cvref_t<decltype(f)>::type>());
                      out += ']';
                  });
              }(), out += ']'),
             ...);
        },
        widget_kinds);
    out += '}';
}

void append_widgets(std::string& out, const ActionTable& actions) {
    out += '[';
    bool first = true;
    for (unsigned id = 0; id < 256; ++id) {
        for (std::size_t tag = 0; tag < widget_count; ++tag) {
            const IdentityKey key(tag, static_cast<std::uint8_t>(id));
            const auto found = actions.find(key.view());
            if (found == actions.end()) continue;
            std::string label = found->second->label();
            if (label.empty()) label = std::string(widget_names[tag]) + " " + std::to_string(id);
            out += first ? "{" : ", {";
            first = false;
            out += "\"key\": ";
            append_json(out, key.view());
            out += ", \"kind\": ";
            append_json(out, widget_names[tag]);
            out += ", \"id\": " + std::to_string(id) + ", \"label\": ";
            append_json(out, label);
            out += '}';
        }
    }
    out += ']';
}

void replace_once(std::string& page, std::string_view placeholder, std::string_view with) {
    const std::size_t at = page.find(placeholder);
    if (at != std::string::npos) page.replace(at, placeholder.size(), with);
}

}  // namespace

std::string render_page(std::string_view title, const ActionTable& actions) {
    std::string html_title;
    append_html(html_title, title);
    std::string config = "{\"title\": ";
    append_json(config, title);
    config += ", \"kinds\": ";
    append_kinds(config);
    config += ", \"widgets\": ";
    append_widgets(config, actions);
    config += '}';
    std::string page(web_page_template);
    replace_once(page, "{{title}}", html_title);
    replace_once(page, "{{config}}", config);
    return page;
}

}  // namespace vantu

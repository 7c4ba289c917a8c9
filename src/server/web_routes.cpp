// The page at /, the WebSocket at /ws, and nothing else.
#include "server/web_routes.hpp"

#include "base/websocket_handshake.hpp"
#include "server/web_hosts.hpp"

namespace vantu {
namespace {

std::string_view reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 426: return "Upgrade Required";
        case 431: return "Request Header Fields Too Large";
        case 503: return "Service Unavailable";
    }
    return "Error";
}

// Every answer but the upgrade closes the connection after it: a page
// reload is one request, and nothing waits on a connection for a second.
std::string response(int status, std::string_view headers, std::string_view body,
                     bool with_body = true) {
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason(status)) +
                      "\r\n";
    out += headers;
    out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    if (with_body) out += body;
    return out;
}

WebAnswer error(int status, std::string_view headers = {}) {
    const std::string body = std::to_string(status) + " " + std::string(reason(status)) + "\n";
    return {response(status, std::string("Content-Type: text/plain; charset=utf-8\r\n") +
                                 std::string(headers),
                     body),
            false};
}

// The page may load nothing but itself and talk to nothing but its own
// WebSocket, whatever a label or a title holds.
constexpr std::string_view page_headers =
    "Content-Type: text/html; charset=utf-8\r\n"
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; "
    "style-src 'unsafe-inline'; img-src data:; connect-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'\r\n";

WebAnswer upgrade(const http::Request& request, std::size_t after_head, const WebPolicy& policy) {
    if (request.method != "GET") return error(405, "Allow: GET\r\n");
    const bool asks = request.upgrade && http::has_token(*request.upgrade, "websocket") &&
                      request.connection && http::has_token(*request.connection, "upgrade");
    if (!asks) return error(426, "Upgrade: websocket\r\n");
    if (request.websocket_version != "13") return error(426, "Sec-WebSocket-Version: 13\r\n");
    // A client speaks only after the server's answer: bytes already here
    // are not a WebSocket's.
    if (request.minor_version != 1 || after_head != 0 || !request.websocket_key ||
        !ws::valid_key(*request.websocket_key)) {
        return error(400);
    }
    // A page of another site, open in the same browser, must not drive the
    // program; a client that is not a browser sends no Origin.
    if (request.origin && !same_origin(*request.origin, *request.host)) return error(403);
    if (policy.occupied && !policy.takeover) return error(503, "Retry-After: 1\r\n");
    return {"HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept: " + ws::accept_key(*request.websocket_key) + "\r\n\r\n",
            true};
}

}  // namespace

WebAnswer answer_request(const http::Request& request, std::size_t after_head,
                         const WebPolicy& policy) {
    if (!request.host || !host_allowed(*request.host, policy.machine, policy.hosts)) {
        return error(403);
    }
    const std::string_view path = request.target.substr(0, request.target.find('?'));
    if (path == "/ws") return upgrade(request, after_head, policy);
    if (request.method != "GET" && request.method != "HEAD") return error(405, "Allow: GET, HEAD\r\n");
    if (path != "/") return error(404);
    return {response(200, page_headers, policy.page, request.method == "GET"), false};
}

WebAnswer answer_refusal(int status) { return error(status); }

}  // namespace vantu

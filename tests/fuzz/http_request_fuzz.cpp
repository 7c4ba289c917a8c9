// parse_request on arbitrary bytes: a request's views lie inside its head,
// its sizes within bounds, and the bytes cut at a chosen point give
// Incomplete or the same verdict as the whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "base/http_request.hpp"
#include "base/websocket_handshake.hpp"
#include "frame_compare.hpp"

using namespace vantu;
using vantu::fuzz::check;

namespace {

using Result = std::variant<http::Incomplete, http::Request, http::Refusal>;

bool inside(std::string_view view, std::span<const std::uint8_t> head) {
    const auto begin = reinterpret_cast<std::uintptr_t>(head.data());
    const auto at = reinterpret_cast<std::uintptr_t>(view.data());
    return at >= begin && at + view.size() <= begin + head.size();
}

bool is_ows(char c) { return c == ' ' || c == '\t'; }

void check_value(std::optional<std::string_view> value, std::span<const std::uint8_t> head) {
    if (!value || value->empty()) return;
    check(inside(*value, head) && !is_ows(value->front()) && !is_ows(value->back()));
    check(value->find_first_of("\r\n") == std::string_view::npos);
}

void check_request(const http::Request& r, std::span<const std::uint8_t> bytes) {
    check(r.head_size >= 16 && r.head_size <= bytes.size() && r.head_size <= http::max_head);
    const auto head = bytes.first(r.head_size);
    const std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
    check(text.substr(text.size() - 4) == "\r\n\r\n");
    check(!r.method.empty() && inside(r.method, head));
    check(!r.target.empty() && inside(r.target, head));
    check(r.minor_version == 0 || r.minor_version == 1);
    for (const auto& value : {r.host, r.origin, r.upgrade, r.connection, r.websocket_key,
                              r.websocket_version}) {
        check_value(value, head);
    }
    if (r.websocket_key) {
        check(ws::accept_key(*r.websocket_key).size() == 28);
        check(!ws::valid_key(*r.websocket_key) || r.websocket_key->size() == 24);
    }
    if (r.connection) http::has_token(*r.connection, "upgrade");
}

bool same(const Result& a, const Result& b) {
    if (a.index() != b.index()) return false;
    if (const auto* refusal = std::get_if<http::Refusal>(&a)) {
        return refusal->status == std::get<http::Refusal>(b).status;
    }
    if (!std::holds_alternative<http::Request>(a)) return true;
    const auto& x = std::get<http::Request>(a);
    const auto& y = std::get<http::Request>(b);
    return x.method == y.method && x.target == y.target && x.minor_version == y.minor_version &&
           x.host == y.host && x.origin == y.origin && x.upgrade == y.upgrade &&
           x.connection == y.connection && x.websocket_key == y.websocket_key &&
           x.websocket_version == y.websocket_version && x.head_size == y.head_size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto cut_at = in.ConsumeIntegral<std::uint16_t>();
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();
    const Result whole = http::parse_request(bytes);
    if (const auto* request = std::get_if<http::Request>(&whole)) check_request(*request, bytes);
    if (const auto* refusal = std::get_if<http::Refusal>(&whole)) {
        check(refusal->status == 400 || refusal->status == 431);
    }
    const std::size_t cut = cut_at % (bytes.size() + 1);
    const Result part = http::parse_request(std::span(bytes).first(cut));
    check(std::holds_alternative<http::Incomplete>(part) || same(part, whole));
    return 0;
}

#include "view_encodings.h"

#include <zlib.h>

#include <boost/beast/core/string.hpp>

#include <cstdint>
#include <cstdio>
#include <optional>

namespace forecourt {

namespace {

// Below this a view is sent as it is: the gzip header and the client's inflating cost more
// than the bytes saved.
constexpr std::size_t kCompressFrom = 1024;

// Calls each(element) for each comma-separated element of a header's list.
template <typename Each>
void ForEachElement(std::string_view list, Each each) {
    while (!list.empty()) {
        const auto comma = list.find(',');
        each(TrimSpace(list.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
}

std::shared_ptr<const std::string> Gzip(const std::string& text) {
    z_stream z{};
    // 15 + 16: a gzip wrapper rather than zlib's. The fastest level: a view of JSON still
    // shrinks to a tenth, and a view may be compressed once for each request while pumps run.
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return nullptr;
    std::string out(deflateBound(&z, text.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int done = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (done != Z_STREAM_END) return nullptr;
    return std::make_shared<const std::string>(std::move(out));
}

}  // namespace

EncodedView Encode(std::shared_ptr<const std::string> view) {
    // FNV-1a over the bytes: a tag only has to change when they do.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const unsigned char c : *view) hash = (hash ^ c) * 0x100000001b3ULL;
    char tag[24];
    std::snprintf(tag, sizeof tag, "\"%016llx\"", static_cast<unsigned long long>(hash));
    EncodedView e{view, tag, {}, nullptr};
    if (view->size() >= kCompressFrom) e.gzip = Gzip(*view);
    // Each coding is its own representation, with a tag of its own.
    if (e.gzip) e.gzip_etag = e.etag.substr(0, e.etag.size() - 1) + "-gzip\"";
    return e;
}

std::shared_ptr<const EncodedView> ViewEncodings::For(std::shared_ptr<const std::string> view) {
    {
        std::lock_guard lock(mutex_);
        if (last_ && last_->bytes == view) return last_;
    }
    // Compressed outside the lock: two requests for a new view may both compress it, but no
    // request waits on another's compressing.
    auto encoded = std::make_shared<const EncodedView>(Encode(std::move(view)));
    std::lock_guard lock(mutex_);
    last_ = encoded;
    return encoded;
}

bool AcceptsGzip(std::string_view accept_encoding) {
    // An entry naming gzip decides; failing one, a wildcard does.
    std::optional<bool> named, any;
    ForEachElement(accept_encoding, [&](std::string_view element) {
        const auto semicolon = element.find(';');
        const auto coding = TrimSpace(element.substr(0, semicolon));
        bool refused = false;
        if (semicolon != std::string_view::npos) {
            // "q=0", "q=0.0", "q=0.000": the client will not take it.
            const auto q = TrimSpace(element.substr(semicolon + 1));
            refused = q.size() >= 3 && (q[0] | 0x20) == 'q' && q[1] == '=' && q.substr(2).find_first_not_of("0.") == std::string_view::npos;
        }
        if (boost::beast::iequals(coding, "gzip")) named = !refused;
        if (coding == "*") any = !refused;
    });
    return named.value_or(any.value_or(false));
}

Response ViewResponse(const Request& request, const EncodedView& view) {
    bool unchanged = false;
    ForEachElement(request[http::field::if_none_match], [&](std::string_view tag) {
        if (tag.starts_with("W/")) tag.remove_prefix(2);
        if (tag == "*" || tag == view.etag || (view.gzip && tag == view.gzip_etag)) unchanged = true;
    });
    const bool gzip = view.gzip && AcceptsGzip(request[http::field::accept_encoding]);
    Response res{unchanged ? http::status::not_modified : http::status::ok, request.version()};
    res.set(http::field::content_type, "application/json");
    // A client may keep a copy, but must ask again (If-None-Match) before using it.
    res.set(http::field::cache_control, "no-cache");
    res.set(http::field::etag, gzip ? view.gzip_etag : view.etag);
    if (view.gzip) res.set(http::field::vary, "Accept-Encoding");
    res.keep_alive(request.keep_alive());
    if (unchanged) return res;
    if (gzip) res.set(http::field::content_encoding, "gzip");
    res.body() = gzip ? *view.gzip : *view.bytes;
    res.prepare_payload();
    return res;
}

}  // namespace forecourt

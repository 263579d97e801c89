// A pump view as it goes to a client: with an entity tag a client that polls can send back to
// be told "not modified", and gzip-compressed for a client that takes gzip. Both are made once
// per view (a view changes when a pump does), not once per request.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "http_types.h"

namespace forecourt {

struct EncodedView {
    std::shared_ptr<const std::string> bytes;
    std::string etag;  // quoted, as the header carries it
    std::string gzip_etag;
    std::shared_ptr<const std::string> gzip;  // null where compressing would not pay
};

// Remembers the encodings of the last view asked for. Views are immutable, so a view is known
// by its address for as long as the cache holds it.
class ViewEncodings {
public:
    std::shared_ptr<const EncodedView> For(std::shared_ptr<const std::string> view);

private:
    std::mutex mutex_;
    std::shared_ptr<const EncodedView> last_;
};

EncodedView Encode(std::shared_ptr<const std::string> view);

// 200 with the view (compressed where the client accepts gzip), or 304 where the client's
// If-None-Match names it.
Response ViewResponse(const Request& request, const EncodedView& view);

// Whether an Accept-Encoding value admits gzip (a "q=0" refuses it).
bool AcceptsGzip(std::string_view accept_encoding);

}  // namespace forecourt

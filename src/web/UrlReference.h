#pragma once

namespace hanamail {

class StringBuffer;

// Reference resolution of RFC 3986 (section 5): the target URL of a
// reference found in a page, a style sheet or a Location field, given the
// URL of the document it came from. Strict: a reference with a scheme is
// absolute even when the scheme is the base's.
class UrlReference {
public:
    UrlReference() = delete;

    // out = reference resolved against base, dot segments removed.
    static void resolve(const char* base, const char* reference, StringBuffer& out);

    // "/a/b/../c/./d" -> "/a/c/d" (section 5.2.4); appended to out.
    static void removeDotSegments(const char* path, StringBuffer& out);
};

}  // namespace hanamail

#pragma once

namespace hanamail {

class StringBuffer;

// Content types of attachments by file-name extension.
class ContentTypeTable {
public:
    // Appends the content type of ext ("pdf", no dot) and returns true; false
    // and nothing appended when no row matches (callers then use
    // "application/octet-stream").
    static bool forExtension(const char* ext, StringBuffer& out);
    static int rowCount();
};

}  // namespace hanamail

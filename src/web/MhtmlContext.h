#pragma once
#include <string>
#include <vector>

#include "foundation/TembrixObject.h"

namespace hanamail {

// One reference of a page that got a Content-ID.
struct MhtmlResource {
    std::string url;  // absolute, or a local path as written
    std::string cid;
    bool frame = false;  // from a frame or iframe tag: an HTML page of its own
};

// What belongs to one page of a capture (the main page, or a frame) while
// it is processed.
class MhtmlContext : public TembrixObject {
public:
    MhtmlContext() = default;

    // Pages in these code pages go as base64: quoted-printable would make
    // most of their bytes three.
    static bool base64CodePage(int cp);

    // The references registered by this page, in the order first met.
    std::vector<MhtmlResource> resources;
    // What relative references resolve against: the page's final URL, or
    // its base href. Empty for local pages.
    std::string documentUrl;
    std::string baseUrl;
    std::string rootUrl;
    // For local pages: the page's path (references are relative to it).
    std::string localFile;
    // The directory to go back to when the context is done.
    std::string savedDirectory;
    bool directoryChanged = false;
    // References are left as written (a local page without an http base).
    bool localFileMode = false;
    // The page came over HTTP: nothing it names is read from this machine.
    bool remote = false;
    int depth = 0;
};

}  // namespace hanamail

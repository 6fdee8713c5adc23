#pragma once
// Marks what the shared library offers its callers; the library is built with
// hidden visibility, so everything else stays inside it.
#if defined(_WIN32)
#define HANAMAIL_API
#else
#define HANAMAIL_API __attribute__((visibility("default")))
#endif

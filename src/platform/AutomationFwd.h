#pragma once
// The automation string and variant types by name, for headers that only pass
// them along. Unlike platform/Automation.h this defines no macro, so headers a
// caller includes stay free of them.
#ifdef _WIN32
#include <oaidl.h>
#else
#include <cstdint>

namespace hanamail {

typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef uint16_t VARTYPE;
struct VARIANT;
struct SAFEARRAY;
struct IDispatch;

}  // namespace hanamail
#endif

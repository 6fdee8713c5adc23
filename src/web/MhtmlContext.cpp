#include "web/MhtmlContext.h"

namespace hanamail {

bool MhtmlContext::base64CodePage(int cp)
{
    return cp == 874 || cp == 1200 || cp == 1201 || cp == 1361 || cp == 10001 || cp == 10002 || cp == 10003 ||
           cp == 10021 || (cp >= 901 && cp <= 999) || (cp >= 20833 && cp <= 21999) || cp >= 50000;
}

}  // namespace hanamail

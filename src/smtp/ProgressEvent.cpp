#include "smtp/ProgressEvent.h"

namespace hanamail {

ProgressEvent::~ProgressEvent() = default;

void ProgressEvent::percentDone(int, bool& abort)
{
    abort = false;
}

void ProgressEvent::abortCheck(bool& abort)
{
    abort = false;
}

}  // namespace hanamail

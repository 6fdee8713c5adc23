#pragma once

namespace hanamail {

// What an application hears of a long transfer, and how it stops one: each
// call sets abort to true only when the transfer should end.
class ProgressEvent {
public:
    virtual ~ProgressEvent();
    // A new percentage (0..100) was reached.
    virtual void percentDone(int percent, bool& abort);
    // Called when no new percentage came for a while.
    virtual void abortCheck(bool& abort);
};

}  // namespace hanamail

#pragma once
#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "foundation/Logger.h"
#include "foundation/StringBuffer.h"
#include "smtp/TembrixSocket.h"
#include "support/LoopbackServer.h"

namespace sockettest {

inline std::string logText(hanamail::Logger& log)
{
    hanamail::StringBuffer sb;
    log.getText(sb);
    return sb.getString();
}

inline bool has(hanamail::Logger& log, const std::string& line)
{
    return logText(log).find(line) != std::string::npos;
}

inline bool connectTo(hanamail::TembrixSocket& s, const loopback::LoopbackServer& server, hanamail::Logger& log)
{
    bool unknown = true;
    return server.listening() && s.connectToHost("127.0.0.1", server.port(), log, unknown) && !unknown;
}

#ifndef _WIN32
// Raises the soft descriptor limit to n where the hard limit allows it.
inline bool allowDescriptors(rlim_t n)
{
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return false;
    if (lim.rlim_cur >= n) return true;
    if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < n) return false;
    lim.rlim_cur = n;
    return setrlimit(RLIMIT_NOFILE, &lim) == 0;
}
#endif

}  // namespace sockettest
